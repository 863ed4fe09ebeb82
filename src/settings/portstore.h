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

    // A port map is a few lines; anything bigger is not one, and is not read.
    static constexpr qint64 kMaxFileSize = 64 * 1024;
    // Bad entries named in a warning; the rest are counted.
    static constexpr int kEntriesNamed = 3;

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
    // other entry; the file is written whole, then put in place, by one
    // program at a time. Returns why it could not be saved, or an empty
    // string. What the old file held and the new one no longer does (the
    // entries load() ignored) is said in *dropped, in one line.
    [[nodiscard]] QString save(int n, const QString &device, QString *dropped = nullptr) const;

private:
    struct Reading {
        QMap<int, QString> devices;
        QStringList ignored;     // entries, or the whole file, and why
        bool wholeFile = false;  // the file was not read at all
    };
    Reading read() const;

    QString m_path;
};
