#include "link/devicefacts.h"

#include "link/portname.h"

// Windows names ports COM1, COM2 ...: no links to resolve, no device nodes
// with owners, no lock files; a port held by another program reports itself.
namespace DeviceFacts {

PortNaming portNaming()
{
    return PortNaming::ComNames;
}

// Every spelling of a port is its COM name, so that the hold and "one device
// named twice" see one port. Other names are left as given: whyNoPort
// refuses them. A path that Wine maps to a port (Z:\dev\pts\8) is not
// resolved: only opening it would tell which port it is, and an open is
// what the hold must come before.
QString realDevicePath(const QString &given)
{
    return WindowsPortName::canonical(given).value_or(given);
}

QString whyNoPort(const QString &real)
{
    return WindowsPortName::canonical(real) ? QString() : QStringLiteral("Windows names its serial ports COM1, COM2, ...");
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
