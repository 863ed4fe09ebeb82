#pragma once

#include "link/openfailure.h"
#include "link/portname.h"

#include <QString>

#include <optional>

// What the operating system knows about a device name. One implementation per
// platform; the link asks, and never calls the system itself.
namespace DeviceFacts {

// How ports are named here.
PortNaming portNaming();

// The device a name really stands for: links resolved (/dev/serial/by-id/...),
// relative names made absolute, so that one device has one lock whatever it is
// called. A name that does not exist comes back absolute but unresolved.
QString realDevicePath(const QString &given);

// What `real` (as realDevicePath gives it) stands for, to tell whether two
// names reach one device: for the port hold and for one device named twice.
// Linux: the path itself, links already resolved. Windows: the device the
// system maps a COM name to, which two COM names of one device share.
QString deviceIdentity(const QString &real);

// The name to keep a device by: the one that finds the same adapter again
// after it was plugged into another socket (/dev/serial/by-id/... on Linux),
// or else the device itself, a relative path made absolute. `byIdFolder` is
// where such names live.
QString defaultByIdFolder();
QString stableName(const QString &device, const QString &byIdFolder = defaultByIdFolder());

// The device's name and, when it is a link or a relative path, the real
// device behind it: "/dev/serial/by-id/x (/dev/ttyUSB0)".
inline QString namesOf(const QString &device)
{
    return deviceNames(device, realDevicePath(device));
}

// Why `real` (as realDevicePath gives it) is no serial port, known from its
// name or kind alone and so before anything is opened: a directory; on
// Windows any name but a COM port's. Empty when it may be one.
QString whyNoPort(const QString &real);

// Whether the system says for certain that no device has this name (Linux: no
// node there). Windows: a COM name is known only by opening it (false).
bool isAbsent(const QString &real);

// Whether this user could open the device node for reading and writing.
bool mayReadWrite(const QString &device);
// Whether the system refuses the name for its length before looking for it.
bool nameTooLong(const QString &device);

// Owner, group and mode of the device node, if it has them.
std::optional<DeviceAccess> accessOf(const QString &device);

// The lock file another process keeps for `device`, if any (UUCP style:
// LCK..NAME holding a process id, as QSerialPort and other programs write).
std::optional<PortLock> lockOf(const QString &device);

}  // namespace DeviceFacts
