#include "link/portlock.h"

// The lock file beside the device is the hold here: QSerialPort takes it on
// open, and the link refuses a device whose lock belongs to a running process.
bool PortHold::take(const QString &)
{
    release();
    return true;
}

void PortHold::release()
{
    m_handle = nullptr;
}
