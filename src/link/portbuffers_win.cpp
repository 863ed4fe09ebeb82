#include "link/portbuffers.h"

#include <QSerialPort>

#include <windows.h>

// Qt 6.4's QSerialPort::clear() purges with PURGE_RXABORT / PURGE_TXABORT: an
// overlapped read of Qt's then completes with ERROR_OPERATION_ABORTED, which
// Qt reports as ResourceError, and the link would take that for a pulled
// cable at a random frame. Here only the drivers' queues are cleared.

qint64 unsentInDriver(QSerialPort &port)
{
    const HANDLE handle = port.handle();
    DWORD errors = 0;
    COMSTAT status{};
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !::ClearCommError(handle, &errors, &status))
        return -1;
    return qint64(status.cbOutQue);
}

void dropReceived(QSerialPort &port)
{
    const HANDLE handle = port.handle();
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
        ::PurgeComm(handle, PURGE_RXCLEAR);
    // What Qt already took from the driver is stale too.
    [[maybe_unused]] const QByteArray stale = port.readAll();
}

void dropUnsent(QSerialPort &port)
{
    // Bytes in Qt's own queue are a write under way: let them go out.
    if (port.bytesToWrite() > 0)
        return;
    const HANDLE handle = port.handle();
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
        ::PurgeComm(handle, PURGE_TXCLEAR);
}

bool lineIsOnlyFull(QSerialPort &)
{
    // Overlapped writes never fail for a full buffer: an error is an error.
    return false;
}
