#include "link/devicefacts.h"

// Windows names ports COM1, COM2 ...: no links to resolve, no device nodes
// with owners, no lock files; a port held by another program reports itself.
namespace DeviceFacts {

QString realDevicePath(const QString &given)
{
    return given;
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
