#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The device each "Com N" names, kept for the user between runs: an INI file
// (on Linux $XDG_CONFIG_HOME/custdisp/ports.ini) read and written with
// QSettings. Only the device map is kept; every other choice starts from its
// default at each run.
class PortStore {
public:
    explicit PortStore(QString path = defaultPath());

    static QString defaultPath();
    QString path() const { return m_path; }

    struct Contents {
        QMap<int, QString> devices;
        // What was ignored and why, in one line; empty when all was well.
        QString warning;
    };
    // A missing file is an empty map. Entries that make no sense (a port
    // outside 1..4, no device, an unknown key) are ignored one by one.
    Contents load() const;

    // Saves N's device (an empty one: back to the default), keeping every
    // other entry; the file is written whole, then put in place. Returns why
    // it could not be saved, or an empty string.
    [[nodiscard]] QString save(int n, const QString &device) const;

private:
    QString m_path;
};
