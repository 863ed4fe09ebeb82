#include "link/devicefacts.h"

#include <QRegularExpression>

// Windows names ports COM1, COM2 ...: no links to resolve, no device nodes
// with owners, no lock files; a port held by another program reports itself.
namespace DeviceFacts {

// "COM5", "com5" and "\\.\COM5" are one port: Windows ignores case in
// device names, and the "\\.\" prefix is how ports are listed (and how
// COM10 and above must be opened, which Qt does itself), not how people name
// them.
QString realDevicePath(const QString &given)
{
    static const QString devicePrefix = QStringLiteral("\\\\.\\");
    static const QRegularExpression comPort(QStringLiteral("^com[0-9]+$"), QRegularExpression::CaseInsensitiveOption);
    const QString name = given.startsWith(devicePrefix) ? given.mid(devicePrefix.size()) : given;
    return comPort.match(name).hasMatch() ? name.toUpper() : given;
}

QString defaultByIdFolder()
{
    return {};
}

QString stableName(const QString &device, const QString &)
{
    return device;  // Windows keeps an adapter's COM number itself
}

bool mayReadWrite(const QString &)
{
    return true;
}

std::optional<DeviceAccess> accessOf(const QString &)
{
    return std::nullopt;
}

std::optional<PortLock> lockOf(const QString &)
{
    return std::nullopt;
}

}  // namespace DeviceFacts
