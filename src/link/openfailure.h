#pragma once

#include <QString>

#include <optional>

// Why a port could not be opened. The operator sees one message for all of
// them; the command line prints the cause too.
enum class OpenFailureCause {
    Missing,           // no such device
    PermissionDenied,  // the device exists but this user may not open it
    Busy,              // another program (or another link) holds it
    BadSettings,       // the settings string is malformed or refused
    NotASerialPort,    // a regular file, a directory, /dev/null ...
    Other,
};

// Who may use a device node, as the file system says.
struct DeviceAccess {
    QString owner;
    QString group;
    uint mode = 0;  // permission bits, e.g. 0660
};

// A lock file that keeps a port busy: another program's that runs, or one
// left behind by a program that no longer runs (a crash) until someone
// removes it.
struct PortLock {
    QString path;
    qint64 pid = 0;
    bool running = false;
};

// "/dev/serial/by-id/x (/dev/ttyUSB0)" for a name and the device it stands
// for, or just the device when they are the same.
QString deviceNames(const QString &given, const QString &real);

struct OpenFailure {
    OpenFailure(OpenFailureCause why = OpenFailureCause::Other, QString dev = {}, QString qtWords = {})
        : cause(why), device(std::move(dev)), detail(std::move(qtWords))
    {
    }

    OpenFailureCause cause = OpenFailureCause::Other;
    QString device;                      // the real device, links resolved
    QString detail;                      // Qt's own words, for a trace
    QString given;                       // the name the operator used, when it differs from `device`
    std::optional<DeviceAccess> access;  // with PermissionDenied
    std::optional<PortLock> lock;        // with Busy

    // "/dev/serial/by-id/x (/dev/ttyUSB0)", or just the device.
    QString names() const;
    // e.g. "cannot open /dev/ttyUSB0: permission denied"
    QString describe() const;
    // What the operator can do about it, one line: "cause: ...". `portsHere`
    // lists the serial ports there are, for a missing device.
    QString causeLine(const QString &portsHere) const;
};
