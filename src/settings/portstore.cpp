#include "settings/portstore.h"

#include "settings/portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

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

PortStore::Contents PortStore::load() const
{
    Contents contents;
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return contents;  // nothing saved yet
    // Only a readable regular file is read at all: a FIFO would block every
    // start, a device would never end.
    if (!info.exists() || !info.isFile() || !info.isReadable()) {
        contents.warning = QStringLiteral("%1: not a readable file; the saved port map is ignored").arg(m_path);
        return contents;
    }
    QSettings file(m_path, QSettings::IniFormat);
    QStringList ignored;
    if (file.status() == QSettings::AccessError)
        ignored << QStringLiteral("the file cannot be read");
    else if (file.status() == QSettings::FormatError)
        ignored << QStringLiteral("lines that are not KEY=VALUE");

    static const QRegularExpression portKey(QStringLiteral("^com(\\d+)$"));
    for (const QString &key : file.allKeys()) {
        const QRegularExpressionMatch m = portKey.match(key.section(QLatin1Char('/'), -1));
        const bool portEntry = m.hasMatch() && key.startsWith(kGroup + QLatin1Char('/'));
        const int n = portEntry ? m.captured(1).toInt() : 0;
        const QString device = file.value(key).toString().trimmed();
        if (!portEntry)
            ignored << QStringLiteral("%1 (unknown)").arg(key);
        else if (!PortMap::isValidPort(n))
            ignored << QStringLiteral("%1 (not Com 1 to Com 4)").arg(key);
        else if (device.isEmpty())
            ignored << QStringLiteral("%1 (no device)").arg(key);
        else
            contents.devices.insert(n, device);
    }
    if (!ignored.isEmpty())
        contents.warning = QStringLiteral("%1: ignored %2").arg(m_path, ignored.join(QStringLiteral(", ")));
    else if (contents.devices.isEmpty() && info.size() > 0)
        contents.warning = QStringLiteral("%1: nothing in it could be read; the saved port map is ignored").arg(m_path);
    return contents;
}

QString PortStore::save(int n, const QString &device) const
{
    if (!PortMap::isValidPort(n))
        return QStringLiteral("there is no Com %1").arg(n);
    for (const QChar c : device) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("a device name has no control characters");
    }
    const QFileInfo info(m_path);
    if (info.exists() && !info.isFile())
        return QStringLiteral("%1 is not a regular file").arg(m_path);
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return QStringLiteral("cannot create the folder of %1").arg(m_path);
    // Rewrite the whole file from what was valid in it, then put it in place
    // at once (QSettings writes through a temporary file): a failed write
    // leaves the old file as it was.
    QMap<int, QString> devices = load().devices;
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
    return {};
}
