#include "link/openfailure.h"

namespace {

QString modeText(uint mode)
{
    QString text;
    for (int shift = 6; shift >= 0; shift -= 3) {
        text += (mode >> shift) & 4 ? QLatin1Char('r') : QLatin1Char('-');
        text += (mode >> shift) & 2 ? QLatin1Char('w') : QLatin1Char('-');
        text += (mode >> shift) & 1 ? QLatin1Char('x') : QLatin1Char('-');
    }
    return QStringLiteral("%1 (%2)").arg(mode, 4, 8, QLatin1Char('0')).arg(text);
}

QString permissionAdvice(const QString &names, const QString &device, const DeviceAccess &a)
{
    constexpr uint kGroupReadWrite = 060;
    // Joining the group helps only when the group may read and write, and
    // nobody should be told to join root.
    if ((a.mode & kGroupReadWrite) == kGroupReadWrite && !a.group.isEmpty() && a.group != QLatin1String("root"))
        return QStringLiteral("cause: permission denied on %1; it belongs to group '%2': "
                              "join it with 'sudo usermod -aG %2 $USER' and log in again")
            .arg(names, a.group);
    const QString node = device.section(QLatin1Char('/'), -1);
    return QStringLiteral("cause: permission denied on %1 (owner %2, group %3, mode %4); joining a group "
                          "would not help: grant access with a udev rule, e.g. "
                          "SUBSYSTEM==\"tty\", KERNEL==\"%5\", GROUP=\"dialout\", MODE=\"0660\" "
                          "in /etc/udev/rules.d/, then join dialout")
        .arg(names, a.owner, a.group, modeText(a.mode), node);
}

}  // namespace

QString deviceNames(const QString &given, const QString &real)
{
    if (given.isEmpty() || given == real)
        return real;
    return QStringLiteral("%1 (%2)").arg(given, real);
}

QString OpenFailure::names() const
{
    return deviceNames(given, device);
}

QString OpenFailure::describe() const
{
    QString why;
    switch (cause) {
    case OpenFailureCause::Missing: why = QStringLiteral("no such device"); break;
    case OpenFailureCause::PermissionDenied: why = QStringLiteral("permission denied"); break;
    case OpenFailureCause::Busy: why = QStringLiteral("in use by another program"); break;
    case OpenFailureCause::BadSettings: why = QStringLiteral("line settings refused"); break;
    case OpenFailureCause::NotASerialPort: why = QStringLiteral("not a serial port"); break;
    case OpenFailureCause::Other: why = detail.isEmpty() ? QStringLiteral("failed") : detail; break;
    }
    return QStringLiteral("cannot open %1: %2").arg(names(), why);
}

QString OpenFailure::causeLine(const QString &portsHere) const
{
    switch (cause) {
    case OpenFailureCause::Missing:
        return QStringLiteral("cause: %1 does not exist; serial ports here: %2").arg(names(), portsHere);
    case OpenFailureCause::PermissionDenied:
        if (access)
            return permissionAdvice(names(), device, *access);
        return QStringLiteral("cause: permission denied on %1").arg(names());
    case OpenFailureCause::Busy:
        if (lock && lock->running)
            return QStringLiteral("cause: %1 is in use by another program (process %2, lock file %3)")
                .arg(names())
                .arg(lock->pid)
                .arg(lock->path);
        if (lock)
            return QStringLiteral("cause: %1 is locked by %2 of process %3, which no longer runs "
                                  "(left by a crash); remove that file: sudo rm %2")
                .arg(names(), lock->path)
                .arg(lock->pid);
        return QStringLiteral("cause: %1 is in use by another program").arg(names());
    case OpenFailureCause::NotASerialPort:
        // The ports there are, as for a missing one: the operator named
        // something else.
        return QStringLiteral("cause: %1 is not a serial port%2; serial ports here: %3")
            .arg(names(), detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(detail), portsHere);
    default:
        return QStringLiteral("cause: %1").arg(describe());
    }
}
