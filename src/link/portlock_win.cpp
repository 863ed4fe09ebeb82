#include "link/portlock.h"

#include "link/devicefacts.h"

#include <windows.h>

namespace {

// One name per device for every session on the machine (a service, a remote
// desktop, the console), so a script run by another user is turned away too.
// Every spelling of a port, and every COM name of one device, holds the
// device. Backslashes are not allowed in the name after the namespace.
QString holdName(const QString &device)
{
    QString name = DeviceFacts::deviceIdentity(device).toUpper();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QStringLiteral("Global\\custdisp-device-") + name;
}

}  // namespace

bool PortHold::take(const QString &device)
{
    release();
    // The object's existence is the hold, not its ownership: any thread may
    // let go, and Windows closes the handle of a process that ends.
    const std::wstring name = holdName(device).toStdWString();
    HANDLE handle = ::CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE);
    const DWORD error = ::GetLastError();
    if (handle && error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(handle);
        return false;
    }
    if (!handle)
        // Another user's program holds it (we may not open their object); any
        // other refusal leaves the driver's own rule as the only one.
        return error != ERROR_ACCESS_DENIED;
    m_handle = handle;
    return true;
}

void PortHold::release()
{
    if (m_handle)
        ::CloseHandle(static_cast<HANDLE>(m_handle));
    m_handle = nullptr;
}
