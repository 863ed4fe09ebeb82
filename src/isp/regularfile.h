#pragma once

#include <QByteArray>

#include "isp/imagepath.h"

#include <optional>

// The head of a regular file: its size, and its first bytes up to a limit.
struct RegularFileHead {
    qint64 size = 0;
    QByteArray bytes;
};

// Opens the file without ever blocking and reads at most `limit` bytes. Anything but a regular file (a
// FIFO, a device, a socket, a directory) is refused, judged on the opened
// file itself, so nothing can be swapped in between a look and the open.
std::optional<RegularFileHead> readRegularFile(const ImagePath &path, qint64 limit);
