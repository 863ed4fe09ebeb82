#include "sim/savedimage.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString saveImage(const QString &path, const QByteArray &image)
{
    const QByteArray name = QFile::encodeName(path);
    const auto notRegular = QStringLiteral("not a regular file");
    // A look by name first: a FIFO with a reader would open, and a device
    // would be touched by the open itself.
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return notRegular;
    // O_NONBLOCK: a FIFO swapped in meanwhile fails at once instead of
    // waiting for a reader; the open file decides.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == ENXIO ? notRegular : QString::fromLocal8Bit(std::strerror(errno));
    QString why;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        why = notRegular;
    else if (::ftruncate(fd, 0) != 0)
        why = QString::fromLocal8Bit(std::strerror(errno));
    for (qsizetype done = 0; why.isEmpty() && done < image.size();) {
        const ssize_t n = ::write(fd, image.constData() + done, size_t(image.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            why = n == 0 ? QStringLiteral("the file takes no more bytes") : QString::fromLocal8Bit(std::strerror(errno));
    }
    if (::close(fd) != 0 && why.isEmpty())
        why = QString::fromLocal8Bit(std::strerror(errno));
    return why;
}
