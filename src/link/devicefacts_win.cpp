#include "link/devicefacts.h"

#include <algorithm>

// Windows names ports COM1, COM2 ...: no links to resolve, no device nodes
// with owners, no lock files; a port held by another program reports itself.
namespace {

// "COM" and a number, in any case. Plain code, not a QRegularExpression:
// this runs on the command line's port threads, and a regular expression
// matched on a thread leaves Qt a per-thread object that MinGW's emulated
// thread-local storage frees before its destructor runs, which then crashes
// as the thread ends, holding the runtime's lock of thread keys, so that the
// program's exit waits on that lock for ever.
bool isComPort(const QString &name)
{
    return name.size() > 3 && name.first(3).compare(QLatin1String("com"), Qt::CaseInsensitive) == 0
           && std::all_of(name.cbegin() + 3, name.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

}  // namespace

namespace DeviceFacts {

// "COM5", "com5" and "\\.\COM5" are one port: Windows ignores case in
// device names, and the "\\.\" prefix is how ports are listed (and how
// COM10 and above must be opened, which Qt does itself), not how people name
// them.
QString realDevicePath(const QString &given)
{
    const QLatin1String devicePrefix("\\\\.\\");
    const QString name = given.startsWith(devicePrefix) ? given.mid(devicePrefix.size()) : given;
    return isComPort(name) ? name.toUpper() : given;
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

bool nameTooLong(const QString &device)
{
    // MAX_PATH, unless the name opts out of it with \\?\.
    return device.size() >= 32767 || (device.size() >= 260 && !device.startsWith(QLatin1String("\\\\?\\")));
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
