#include "isp/regularfile.h"

#include <QFile>

#include <io.h>
#include <windows.h>

std::optional<RegularFileHead> readRegularFile(const ImagePath &path, qint64 limit)
{
    if (path.shown.isEmpty())
        return std::nullopt;
    QFile file(path.shown);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A pipe or a device (\\.\COM1, \\.\pipe\x) is no image: only disk files.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK)
        return std::nullopt;
    RegularFileHead head{file.size(), file.read(limit)};
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return head;
}
