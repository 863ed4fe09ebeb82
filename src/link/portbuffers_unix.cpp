#include "link/portbuffers.h"

#include <QSerialPort>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

qint64 unsentInDriver(QSerialPort &port)
{
    const int fd = int(port.handle());
    int queued = 0;
    if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

// On Unix Qt flushes the kernel's queues (tcflush) and its own buffer; no
// read or write of Qt's is ever pending in the driver.
void dropReceived(QSerialPort &port)
{
    port.clear(QSerialPort::Input);
}

void dropUnsent(QSerialPort &port)
{
    port.clear(QSerialPort::Output);
}

bool lineIsOnlyFull(QSerialPort &port)
{
    // A pulled cable or a hung-up pty shows as hang-up or error on poll; a
    // line whose buffer is full (EAGAIN) does not.
    const int fd = int(port.handle());
    pollfd p{fd, POLLOUT, 0};
    return fd >= 0 && ::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}
