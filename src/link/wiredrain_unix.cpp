#include "link/wiredrain.h"

#include <QSerialPort>

#include <cerrno>
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
