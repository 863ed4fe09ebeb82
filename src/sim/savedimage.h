#pragma once

#include <QByteArray>
#include <QString>

// Writes the image received into `path`, opened anew each time, as a regular
// file only and without ever blocking: whatever took its place since the
// start (a FIFO nobody reads, a device) is refused. Returns why it could not
// be written, or an empty string.
QString saveImage(const QString &path, const QByteArray &image);
