#include "link/devicefacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace DeviceFacts {

PortNaming portNaming()
{
    return PortNaming::DevicePaths;
}

QString realDevicePath(const QString &given)
{
    // QSerialPort reads a bare name such as "ttyUSB0" as /dev/ttyUSB0.
    const QString absolute = given.contains(QLatin1Char('/')) ? QFileInfo(given).absoluteFilePath()
                                                              : QStringLiteral("/dev/") + given;
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    return canonical.isEmpty() ? absolute : canonical;
}

QString deviceIdentity(const QString &real)
{
    return real;
}

QString whyNoPort(const QString &real)
{
    return QFileInfo(real).isDir() ? QStringLiteral("a directory") : QString();
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
    // A relative path would mean another device in another folder.
    return device.contains(QLatin1Char('/')) ? QFileInfo(device).absoluteFilePath() : device;
}

bool isAbsent(const QString &real)
{
    return !QFileInfo::exists(real);
}

bool mayReadWrite(const QString &device)
{
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

bool nameTooLong(const QString &device)
{
    return ::access(QFile::encodeName(device).constData(), F_OK) != 0 && errno == ENAMETOOLONG;
}

std::optional<DeviceAccess> accessOf(const QString &device)
{
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return std::nullopt;
    const QFileInfo info(device);
    return DeviceAccess{info.owner(), info.group(), uint(st.st_mode & 0777)};
}

std::optional<PortLock> lockOf(const QString &device)
{
    // LCK.. and the name below /dev with '/' as '_', in any of the folders
    // where programs put them (QSerialPort takes the first it can write).
    static const char *const kLockFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                               "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : kLockFolders) {
        const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        QFile lock(path);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        // The process id comes first, as text ("  1234" or "1234\nname...").
        bool ok = false;
        const qint64 pid = lock.readLine(64).trimmed().toLongLong(&ok);
        // Never probe pid 0 or below: kill() would address a process group.
        if (!ok || pid <= 0 || pid == ::getpid())
            return std::nullopt;
        const bool running = ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
        return PortLock{path, pid, running};
    }
    return std::nullopt;
}

}  // namespace DeviceFacts
