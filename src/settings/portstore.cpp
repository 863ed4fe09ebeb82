#include "settings/portstore.h"

#include "settings/portmap.h"
#include "record/storefile.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace {
const QString kGroup = QStringLiteral("ports");

QString keyOf(int n)
{
    return QStringLiteral("com%1").arg(n);
}
}  // namespace

PortStore::PortStore(QString path) : m_path(std::move(path))
{
}

QString PortStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/custdisp/ports.ini");
}

PortStore::Reading PortStore::read() const
{
    Reading reading;
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return reading;  // nothing saved yet
    if (const std::optional<QString> refused = StoreFile::refusal(m_path, kMaxFileSize, QStringLiteral("port map"))) {
        reading.wholeFile = true;
        reading.ignored << *refused;
        return reading;
    }
    QSettings file(m_path, QSettings::IniFormat);
    const QStringList keys = file.allKeys();  // the file is parsed here: its status follows
    bool unreadableLines = file.status() == QSettings::FormatError;
    if (file.status() == QSettings::AccessError)
        reading.ignored << QStringLiteral("the file cannot be read");

    static const QRegularExpression portKey(QStringLiteral("^com(\\d+)$"));
    for (const QString &key : keys) {
        // A key of nothing, or of what no one could read, is a line that was
        // never a setting (binary junk): not worth naming, and Qt would
        // complain of an empty one on stderr.
        const bool readable = !key.isEmpty() && std::all_of(key.cbegin(), key.cend(), [](QChar c) {
            return c.isPrint() && c != QChar::ReplacementCharacter;
        });
        if (!readable) {
            unreadableLines = true;
            continue;
        }
        const QRegularExpressionMatch m = portKey.match(key.section(QLatin1Char('/'), -1));
        const bool portEntry = m.hasMatch() && key.startsWith(kGroup + QLatin1Char('/'));
        const int n = portEntry ? m.captured(1).toInt() : 0;
        const QString device = file.value(key).toString().trimmed();
        if (!portEntry)
            reading.ignored << QStringLiteral("%1 (unknown)").arg(key);
        else if (!PortMap::isValidPort(n))
            reading.ignored << QStringLiteral("%1 (not Com 1 to Com 4)").arg(key);
        else if (device.isEmpty())
            reading.ignored << QStringLiteral("%1 (no device)").arg(key);
        else
            reading.devices.insert(n, device);
    }
    if (reading.ignored.isEmpty() && reading.devices.isEmpty() && info.size() > 0) {
        reading.wholeFile = true;
        reading.ignored << QStringLiteral("%1: nothing in it could be read; the saved port map is ignored").arg(m_path);
    } else if (unreadableLines) {
        reading.ignored << QStringLiteral("lines that are not KEY=VALUE");
    }
    return reading;
}

PortStore::Contents PortStore::load() const
{
    const Reading reading = read();
    Contents contents;
    contents.devices = reading.devices;
    contents.warning = StoreFile::warning(m_path, reading.ignored, reading.wholeFile, kEntriesNamed);
    return contents;
}

QString PortStore::save(int n, const QString &device, QString *dropped) const
{
    if (!PortMap::isValidPort(n))
        return QStringLiteral("there is no Com %1").arg(n);
    for (const QChar c : device) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("a device name has no control characters");
    }
    // One program at a time reads, changes and writes the map.
    // (Not the ".lock" QSettings takes for itself while it writes.)
    StoreFile::Lock lock(m_path);
    if (const QString why = lock.take(); !why.isEmpty())
        return why;

    // Rewrite the whole file from what was valid in it, then put it in place
    // at once (QSettings writes through a temporary file): a failed write
    // leaves the old file as it was.
    const Reading old = read();
    QMap<int, QString> devices = old.devices;
    if (device.trimmed().isEmpty())
        devices.remove(n);
    else
        devices.insert(n, device.trimmed());
    QSettings file(m_path, QSettings::IniFormat);
    file.clear();
    file.beginGroup(kGroup);
    for (auto it = devices.cbegin(); it != devices.cend(); ++it)
        file.setValue(keyOf(it.key()), it.value());
    file.endGroup();
    file.sync();
    if (file.status() != QSettings::NoError)
        return QStringLiteral("cannot write %1").arg(m_path);
    if (dropped && !old.ignored.isEmpty())
        *dropped = old.wholeFile ? QStringLiteral("%1: replaced; nothing in the old file was kept").arg(m_path)
                                 : QStringLiteral("%1: dropped %2").arg(m_path, StoreFile::someOf(old.ignored, kEntriesNamed));
    return {};
}
