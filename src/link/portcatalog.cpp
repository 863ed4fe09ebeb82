#include "link/portcatalog.h"

#include "link/devicefacts.h"

#include <QSerialPortInfo>
#include <QStringList>

QString FoundPort::label() const
{
    QStringList about;
    for (const QString &part : {description, manufacturer, ids, serialNumber}) {
        if (!part.isEmpty())
            about.append(part);
    }
    return about.isEmpty() ? device : device + QStringLiteral("  ") + about.join(QStringLiteral(", "));
}

QList<FoundPort> PortCatalog::ports() const
{
    QList<FoundPort> found;
    for (const QSerialPortInfo &p : QSerialPortInfo::availablePorts()) {
        QString ids;
        if (p.hasVendorIdentifier() && p.hasProductIdentifier())
            ids = QStringLiteral("%1:%2")
                      .arg(p.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                      .arg(p.productIdentifier(), 4, 16, QLatin1Char('0'));
        // The name a user types for the port: /dev/ttyUSB0, COM5 (not \\.\COM5).
        found.append({DeviceFacts::realDevicePath(p.systemLocation()), p.description(), p.manufacturer(), ids, p.serialNumber()});
    }
    return found;
}

QString PortCatalog::deviceList() const
{
    QStringList names;
    for (const FoundPort &found : ports())
        names.append(found.device);
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
}

const PortCatalog &PortCatalog::system()
{
    static const PortCatalog catalog;
    return catalog;
}
