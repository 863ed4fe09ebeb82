#include "link/portbuffers.h"

#include <QSerialPort>

#include <cerrno>
#include <poll.h>
#include <termios.h>

bool drainToWire(QSerialPort &port)
{
    const int fd = int(port.handle());
    if (fd < 0)
        return false;
    int result = 0;
    do {
        result = ::tcdrain(fd);  // a signal (Ctrl-C) interrupts it: wait on
    } while (result != 0 && errno == EINTR);
    return result == 0;
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
