// Whatever ports.ini holds, loading it ends, and only with ports 1..4.
#include "settings/portstore.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    // A new name each time: QSettings caches files by name, and a cached
    // reading would not be this input's.
    static int run = 0;
    const QString path = dir.filePath(QStringLiteral("ports-%1.ini").arg(++run));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    const PortStore::Contents contents = PortStore(path).load();
    for (auto it = contents.devices.cbegin(); it != contents.devices.cend(); ++it) {
        if (it.key() < 1 || it.key() > 4 || it.value().isEmpty())
            std::abort();
    }
    QFile::remove(path);
    return 0;
}
