#include "link/devicefacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace DeviceFacts {

QString realDevicePath(const QString &given)
{
    // QSerialPort reads a bare name such as "ttyUSB0" as /dev/ttyUSB0.
    const QString absolute = given.contains(QLatin1Char('/')) ? QFileInfo(given).absoluteFilePath()
                                                              : QStringLiteral("/dev/") + given;
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    return canonical.isEmpty() ? absolute : canonical;
}

QString defaultByIdFolder()
{
    return QStringLiteral("/dev/serial/by-id");
}

QString stableName(const QString &device, const QString &byIdFolder)
{
    const QString real = realDevicePath(device);
    const QDir folder(byIdFolder);
    for (const QFileInfo &link : folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (link.isSymLink() && link.canonicalFilePath() == real)
            return link.absoluteFilePath();
    }
    return device;
}

bool mayReadWrite(const QString &device)
{
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

std::optional<DeviceAccess> accessOf(const QString &device)
{
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return std::nullopt;
    const QFileInfo info(device);
    return DeviceAccess{info.owner(), info.group(), uint(st.st_mode & 0777)};
}

std::optional<StaleLock> staleLockOf(const QString &device)
{
    // QSerialPort's lock: LCK.. and the name below /dev with '/' as '_', in
    // the first of these folders it can write to.
    static const char *const kLockFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                               "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : kLockFolders) {
        const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        QFile lock(path);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 pid = lock.readLine(32).trimmed().toLongLong(&ok);
        // Never probe pid 0 or below: kill() would address a process group.
        if (!ok || pid <= 0)
            return std::nullopt;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            return std::nullopt;  // it runs (or is someone else's): really busy
        return StaleLock{path, pid};
    }
    return std::nullopt;
}

}  // namespace DeviceFacts
