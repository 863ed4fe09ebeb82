#include "isp/regularfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<RegularFileHead> readRegularFile(const ImagePath &path, qint64 limit)
{
    const QByteArray &nativePath = path.native;
    if (nativePath.isEmpty())
        return std::nullopt;
    // A first look by name keeps us from opening devices at all (opening a
    // serial port raises its modem lines); the open file decides below.
    struct stat st {};
    if (::stat(nativePath.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // O_NONBLOCK: a FIFO swapped in meanwhile opens at once instead of
    // waiting for a writer; O_NOCTTY: a terminal never becomes ours.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    RegularFileHead head{qint64(st.st_size), file.read(limit)};
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return head;
}
