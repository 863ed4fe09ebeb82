#include "settings/portmap.h"

QString PortMap::defaultDevice(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

QString PortMap::deviceFor(int n) const
{
    return m_overrides.value(n, m_saved.value(n, defaultDevice(n)));
}

PortMap::Source PortMap::sourceOf(int n) const
{
    if (m_overrides.contains(n))
        return Source::ThisRun;
    return m_saved.contains(n) ? Source::Saved : Source::Default;
}

bool PortMap::setSaved(int n, const QString &device)
{
    if (!isValidPort(n))
        return false;
    if (device.trimmed().isEmpty())
        m_saved.remove(n);
    else
        m_saved.insert(n, device.trimmed());
    return true;
}

void PortMap::clearOverride(int n)
{
    m_overrides.remove(n);
    m_direct.remove(n);
}

bool PortMap::setOverride(int n, const QString &device)
{
    if (!isValidPort(n) || device.isEmpty())
        return false;
    m_overrides.insert(n, device);
    m_direct.remove(n);
    return true;
}

bool PortMap::setDirect(int n, const QString &device)
{
    if (!setOverride(n, device))
        return false;
    m_direct.insert(n, true);
    return true;
}

Target PortMap::target(int n, const QString &lineSettings) const
{
    if (!isValidPort(n))
        return {QStringLiteral("Com %1").arg(n), QString(), std::nullopt, Target::unavailable(QStringLiteral("COM %1").arg(n))};
    return {m_direct.value(n, false) ? deviceFor(n) : QStringLiteral("Com %1").arg(n), deviceFor(n),
            LineSettings::parse(lineSettings), unavailableText(n)};
}

QString PortMap::unavailableText(int n) const
{
    if (m_direct.value(n, false))
        return Target::unavailable(deviceFor(n));
    return Target::unavailable(QStringLiteral("COM %1").arg(n));
}

std::optional<PortMap::Override> PortMap::parseOverride(const QString &text, QString *error)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0) {
        *error = QStringLiteral("'%1' is not of the form N=DEVICE").arg(text);
        return std::nullopt;
    }
    bool ok = false;
    const int n = text.left(eq).trimmed().toInt(&ok);
    if (!ok || !isValidPort(n)) {
        *error = QStringLiteral("'%1': the port number must be %2 to %3")
                     .arg(text)
                     .arg(kFirstPort)
                     .arg(kLastPort);
        return std::nullopt;
    }
    const QString device = text.mid(eq + 1).trimmed();
    if (device.isEmpty()) {
        *error = QStringLiteral("'%1' names no device").arg(text);
        return std::nullopt;
    }
    return Override{n, device};
}
