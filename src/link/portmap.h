#pragma once

#include <QMap>
#include <QString>

#include <optional>

// Which device "Com N" names. Platform default unless the operator named
// another device for that N (a USB adapter, a pseudo-terminal).
class PortMap {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 4;

    static bool isValidPort(int n) { return n >= kFirstPort && n <= kLastPort; }
    static QString defaultDevice(int n);

    QString deviceFor(int n) const;
    // Refuses (returns false) a port number outside 1..4 or an empty device.
    [[nodiscard]] bool setOverride(int n, const QString &device);

    struct Override {
        int port = 0;
        QString device;
    };
    // Parses "N=DEVICE"; on failure returns nullopt and says why in *error.
    static std::optional<Override> parseOverride(const QString &text, QString *error);

private:
    QMap<int, QString> m_overrides;
};
