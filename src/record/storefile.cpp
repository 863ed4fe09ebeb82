#include "record/storefile.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <chrono>

namespace {
// Saving takes a moment; another program's save is waited for this long.
constexpr std::chrono::milliseconds kLockWait{5000};
// Less free room than this on the file's disk is a full disk.
constexpr qint64 kRoomNeeded = 64 * 1024;
}  // namespace

namespace StoreFile {

std::optional<QString> refusal(const QString &path, qint64 maxSize, const QString &what)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;  // nothing saved yet
    // Only a readable regular file is read at all: a FIFO would block every
    // start, a device would never end.
    if (!info.exists() || !info.isFile() || !info.isReadable())
        return QStringLiteral("%1: not a readable file; the saved %2 is ignored").arg(path, what);
    if (info.size() > maxSize)
        return QStringLiteral("%1: %2 bytes, too big for a %3 (at most %4); the saved %3 is ignored")
            .arg(path)
            .arg(info.size())
            .arg(what)
            .arg(maxSize);
    return std::nullopt;
}

QString someOf(const QStringList &items, int named)
{
    QString text = items.mid(0, named).join(QStringLiteral(", "));
    if (items.size() > named)
        text += QStringLiteral(" and %1 more").arg(items.size() - named);
    return text;
}

QString warning(const QString &path, const QStringList &ignored, bool wholeFile, int named)
{
    if (ignored.isEmpty())
        return {};
    if (wholeFile)
        return ignored.constFirst();
    return QStringLiteral("%1: ignored %2").arg(path, someOf(ignored, named));
}

Lock::Lock(const QString &path) : m_path(path)
{
}

QString Lock::take()
{
    const QFileInfo info(m_path);
    if (info.exists() && !info.isFile())
        return QStringLiteral("%1 is not a regular file").arg(m_path);
    if (!QDir().mkpath(info.absolutePath()))
        return QStringLiteral("cannot create the folder of %1").arg(m_path);
    m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".saving"));
    if (m_lock->tryLock(kLockWait))
        return {};
    if (m_lock->error() == QLockFile::LockFailedError)
        return QStringLiteral("%1 is being saved by another program (lock file %1.saving)").arg(m_path);
    // Nor the lock beside it. QLockFile keeps the system's reason to itself;
    // a full disk is the one a technician can mend, so it is named.
    if (const QStorageInfo disk(info.absolutePath()); disk.isValid() && disk.bytesAvailable() < kRoomNeeded)
        return QStringLiteral("cannot write %1: no space left on the device").arg(m_path);
    return QStringLiteral("cannot write %1").arg(m_path);
}

}  // namespace StoreFile
