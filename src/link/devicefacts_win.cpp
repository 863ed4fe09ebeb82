#include "link/devicefacts.h"

#include "link/portname.h"

#include <windows.h>

#include <array>

// Windows names ports COM1, COM2 ...: no links to resolve, no device nodes
// with owners, no lock files; a port held by another program reports itself.
namespace DeviceFacts {

PortNaming portNaming()
{
    return PortNaming::ComNames;
}

// Every spelling of a port is its COM name, the one messages and the record
// show (deviceIdentity tells two COM names of one device). Other names are
// left as given: whyNoPort
// refuses them. A path that Wine maps to a port (Z:\dev\pts\8) is not
// resolved: only opening it would tell which port it is, and an open is
// what the hold must come before.
QString realDevicePath(const QString &given)
{
    return WindowsPortName::canonical(given).value_or(given);
}

namespace {

// Wine's own ntdll says so; Windows' has no such function.
bool underWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// Where Wine keeps a COM name: a link in the prefix's dosdevices folder,
// which QueryDosDevice does not see. Opened without any access (nothing is
// read, written or set, and another program's exclusive open does not
// refuse it), its final path is the link's target (\\?\Z:\dev\pts\3).
QString wineLinkTarget(const QString &port)
{
    const std::wstring name = (QStringLiteral("\\\\.\\") + port).toStdWString();
    const HANDLE handle = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::array<wchar_t, 1024> path{};
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), FILE_NAME_NORMALIZED);
    ::CloseHandle(handle);
    return length > 0 && length < path.size() ? QString::fromWCharArray(path.data(), length) : QString();
}

}  // namespace

// The device object a COM name stands for (\Device\Serial0, \Device\VCP0),
// as QueryDosDevice gives it, found without opening the port: the hold must
// come before any open. A COM name the system does not know stays itself.
QString deviceIdentity(const QString &real)
{
    const std::optional<QString> port = WindowsPortName::canonical(real);
    if (!port)
        return real;
    std::array<wchar_t, 4096> targets{};
    const std::wstring name = port->toStdWString();
    if (::QueryDosDeviceW(name.c_str(), targets.data(), DWORD(targets.size())) > 0)
        return QString::fromWCharArray(targets.data());  // the first target: the one in use
    if (underWine()) {
        if (const QString target = wineLinkTarget(*port); !target.isEmpty())
            return target;
    }
    return *port;
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

bool isAbsent(const QString &)
{
    return false;
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
