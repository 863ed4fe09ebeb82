#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// Which display an entry is about: the real device and, where it has one,
// the name that finds the same adapter in any socket (/dev/serial/by-id/...).
// With such a name it decides alone: another adapter on the same device node
// is another display.
struct DisplayKey {
    QString device;
    QString byId;  // empty when the device has none

    bool operator==(const DisplayKey &) const = default;
};

// What one display holds as far as this PC knows. The protocol cannot read a
// display back: this is the only memory of it there is.
struct DisplayEntry {
    enum class State {
        Holds,           // the image, sent whole and acknowledged
        UnderWay,        // written before the first byte; still so after a crash
        DidNotComplete,  // the download ended another way
    };

    DisplayKey key;
    State state = State::UnderWay;
    QString image;   // the file's name as shown
    QString sha256;  // of the bytes sent
    qint64 size = 0;
    int frames = 0;
    QDateTime when;   // UTC
    QString program;  // custdisp, custdisp-cli
    QString outcome;  // how a download that did not complete ended
    int framesSent = 0;

    // "holds", "under-way", "did-not-complete": the JSON's words.
    QString stateWord() const;
    // One line for a technician: "holds fw.bin (900 bytes, sha256 ab12...),
    // 2026-12-08 01:50 UTC by custdisp-cli".
    QString text() const;
    // Whether the display holds just this image.
    bool holds(const QString &imageSha256) const { return state == State::Holds && sha256 == imageSha256; }

    QJsonObject toJson() const;
    // nullopt, with why in *why, for an entry that makes no sense.
    static std::optional<DisplayEntry> fromJson(const QJsonObject &o, QString *why);

    static inline const QString kNoWorkingFirmware = QStringLiteral("no working firmware may be on this display");
};

// The record of every display this PC has sent firmware to: one JSON file,
// shared by every user and program where the system allows, read and written
// like the port map (whole files put in place at once, one writer at a time,
// a size cap, bad entries ignored one by one).
class DisplayRecord {
public:
    explicit DisplayRecord(QString path = defaultPath());

    // Entries are a few hundred bytes; the file keeps the latest ones.
    static constexpr qint64 kMaxFileSize = 1024 * 1024;
    static constexpr int kMaxEntries = 512;
    static constexpr int kEntriesNamed = 3;
    // A save still reads a file this much over the cap, to keep its newest
    // entries rather than start again with one.
    static constexpr qint64 kMaxFileSizeRead = 16 * kMaxFileSize;

    // $CUSTDISP_RECORD_DIR/displays.json when set; else the shared folder if
    // this user may write there, else the user's own state folder.
    static QString defaultPath();
    QString path() const { return m_path; }
    // Each save takes this much longer: a slow disk, for the benchmark and the tests.
    void slowEachSaveBy(std::chrono::milliseconds delay) { m_slowSave = delay; }

    struct Contents {
        QList<DisplayEntry> entries;
        QString warning;  // what was ignored and why, in one line naming the file

        std::optional<DisplayEntry> find(const DisplayKey &key) const;
    };
    Contents load() const;

    // Puts `entry` in place of whatever the record said of its display (or,
    // with nullopt, forgets `key`'s entry), keeping every other entry; the
    // file is on disk when this returns. Returns why not, or an empty string.
    [[nodiscard]] QString put(const DisplayKey &key, const std::optional<DisplayEntry> &entry) const;

private:
    struct Reading {
        QList<DisplayEntry> entries;
        QStringList ignored;
        bool wholeFile = false;
    };
    Reading read(qint64 maxSize) const;

    QString m_path;
    std::chrono::milliseconds m_slowSave{0};
};
