#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// How an operator names a port where the program runs: a device path on
// Linux (/dev/ttyUSB0), a COM name on Windows.
enum class PortNaming {
    DevicePaths,
    ComNames,
};

// How ports are named on Windows, as pure functions (they are tested on every
// platform). Windows reaches a serial port only by its DOS device name, COMn;
// the other spellings people and programs use for it are the same port.
namespace WindowsPortName {

// "COM5" for COM5, com5, \\.\COM5, \\?\COM5, //./COM5 and COM5: (Windows
// ignores case in device names; "\\.\" and "\\?\" are how ports are listed
// and how COM10 and above are opened; "COM5:" is the spelling of `mode`).
// Nothing for a name that is no COM port: a file, a Linux path, COM0, COM05.
std::optional<QString> canonical(QStringView given);

// "COM7": the port Windows numbers n.
QString ofNumber(int n);

// What to warn about before `device` is saved for a "Com N": a name that is
// no COM port, or a COM port that is not among `present` (canonical names);
// empty when there is nothing to say.
QString mapWarning(const QString &device, const QStringList &present);

}  // namespace WindowsPortName
