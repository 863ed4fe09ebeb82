#pragma once

#include "link/target.h"

#include <QMap>
#include <QString>

#include <optional>

// Which device "Com N" names: a device named for this run (--com, -p) comes
// first, then the one the user saved for N, then the platform's default.
class PortMap {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 4;

    // clang-format off
    enum class Source { Default, Saved, ThisRun };
    // clang-format on

    static bool isValidPort(int n) { return n >= kFirstPort && n <= kLastPort; }
    static QString defaultDevice(int n);

    QString deviceFor(int n) const;
    Source sourceOf(int n) const;

    // The user's own choice for N, kept between runs; an empty device forgets
    // it. Refuses a port number outside 1..4.
    [[nodiscard]] bool setSaved(int n, const QString &device);
    QMap<int, QString> saved() const { return m_saved; }

    // Refuses (returns false) a port number outside 1..4 or an empty device.
    [[nodiscard]] bool setOverride(int n, const QString &device);
    // Drops what was named for this run, so the saved choice applies again.
    void clearOverride(int n);
    // As setOverride, for a device the operator named instead of a port
    // number: messages then call it by that name.
    [[nodiscard]] bool setDirect(int n, const QString &device);

    // Where "Com n" at `lineSettings` ("9600,N,8,1") goes, resolved once.
    Target target(int n, const QString &lineSettings) const;
    // "COM 2: not available.", or "/dev/ttyUSB9: not available." for a port
    // named directly.
    QString unavailableText(int n) const;

    struct Override {
        int port = 0;
        QString device;
    };
    // Parses "N=DEVICE"; on failure returns nullopt and says why in *error.
    static std::optional<Override> parseOverride(const QString &text, QString *error);

private:
    QMap<int, QString> m_saved;
    QMap<int, QString> m_overrides;
    QMap<int, bool> m_direct;
};
