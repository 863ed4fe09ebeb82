#include "record/displayrecord.h"

#include "record/recordplace.h"
#include "record/storefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>

#include <algorithm>

namespace {

// Plain code, not a QRegularExpression: the record is read on the record
// keeper's thread, and on Windows a regular expression's per-thread stack
// makes such a thread's end hang the program's exit (MinGW's thread-local
// storage frees it before its destructor runs).
bool isSha256(const QString &text)
{
    return text.size() == 64
           && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

using State = DisplayEntry::State;

struct StateName {
    State state;
    const char *word;
};
constexpr StateName kStates[] = {
    {State::Holds, "holds"},
    {State::UnderWay, "under-way"},
    {State::DidNotComplete, "did-not-complete"},
};

const QString kDisplays = QStringLiteral("displays");

// How much an entry claims the display holds: an image, no working
// firmware, or that nobody knows.
int claims(State state)
{
    switch (state) {
    case State::Holds: return 2;
    case State::DidNotComplete: return 1;
    case State::UnderWay: return 0;
    }
    return 2;
}

// An entry's key decides alone which display it is about (see DisplayKey).
bool sameDisplay(const DisplayKey &entry, const DisplayKey &wanted)
{
    if (!wanted.byId.isEmpty())
        return entry.byId == wanted.byId;
    return entry.byId.isEmpty() && entry.device == wanted.device;
}

}  // namespace

QString DisplayEntry::stateWord() const
{
    for (const StateName &s : kStates) {
        if (s.state == state)
            return QString::fromLatin1(s.word);
    }
    return {};
}

QString DisplayEntry::text() const
{
    const QString at = when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
    const QString image = QStringLiteral("%1 (%2 bytes, sha256 %3)").arg(this->image).arg(size).arg(sha256.left(12));
    switch (state) {
    case State::Holds:
        return QStringLiteral("holds %1, %2 by %3").arg(image, at, program);
    case State::UnderWay:
        // Nobody came back to say how it ended: still running, or the
        // program or the PC stopped dead.
        return QStringLiteral("download under way: contents unknown (%1, started %2 by %3); unless it is still "
                              "running, it was cut off: %4")
            .arg(image, at, program, kNoWorkingFirmware);
    case State::DidNotComplete:
        return QStringLiteral("last download did not complete (%1, %2 by %3, %4 after %5 of %6 frames): %7")
            .arg(image, at, program, outcome)
            .arg(framesSent)
            .arg(frames)
            .arg(kNoWorkingFirmware);
    }
    return {};
}

QJsonObject DisplayEntry::toJson() const
{
    QJsonObject o{{QStringLiteral("device"), key.device},
                  {QStringLiteral("state"), stateWord()},
                  {QStringLiteral("image"), image},
                  {QStringLiteral("sha256"), sha256},
                  {QStringLiteral("size"), size},
                  {QStringLiteral("frames"), frames},
                  {QStringLiteral("when"), when.toUTC().toString(Qt::ISODate)},
                  {QStringLiteral("program"), program}};
    if (!key.byId.isEmpty())
        o.insert(QStringLiteral("by_id"), key.byId);
    if (state == State::DidNotComplete) {
        o.insert(QStringLiteral("outcome"), outcome);
        o.insert(QStringLiteral("frames_sent"), framesSent);
    }
    return o;
}

std::optional<DisplayEntry> DisplayEntry::fromJson(const QJsonObject &o, QString *why)
{
    DisplayEntry e;
    e.key.device = o.value(QStringLiteral("device")).toString();
    e.key.byId = o.value(QStringLiteral("by_id")).toString();
    const QString word = o.value(QStringLiteral("state")).toString();
    const auto state = std::find_if(std::begin(kStates), std::end(kStates),
                                    [&word](const StateName &s) { return word == QLatin1String(s.word); });
    e.image = o.value(QStringLiteral("image")).toString();
    e.sha256 = o.value(QStringLiteral("sha256")).toString();
    e.size = o.value(QStringLiteral("size")).toInteger(-1);
    e.frames = o.value(QStringLiteral("frames")).toInt(-1);
    e.when = QDateTime::fromString(o.value(QStringLiteral("when")).toString(), Qt::ISODate);
    e.program = o.value(QStringLiteral("program")).toString();
    e.outcome = o.value(QStringLiteral("outcome")).toString();
    e.framesSent = o.value(QStringLiteral("frames_sent")).toInt(0);
    QString wrong;
    if (e.key.device.isEmpty())
        wrong = QStringLiteral("no device");
    else if (state == std::end(kStates))
        wrong = QStringLiteral("no state");
    else if (!isSha256(e.sha256))
        wrong = QStringLiteral("no sha256");
    else if (e.size < 0 || e.frames < 0 || !e.when.isValid())
        wrong = QStringLiteral("no size, frames or time");
    if (!wrong.isEmpty()) {
        *why = QStringLiteral("%1 (%2)").arg(e.key.device.isEmpty() ? QStringLiteral("an entry") : e.key.device, wrong);
        return std::nullopt;
    }
    e.state = state->state;
    return e;
}

DisplayRecord::DisplayRecord(QString path) : m_path(std::move(path))
{
}

QString DisplayRecord::defaultPath()
{
    const QString name = QStringLiteral("/displays.json");
    // Tests, and whoever wants a record of their own, name the folder.
    if (const QString folder = qEnvironmentVariable("CUSTDISP_RECORD_DIR"); !folder.isEmpty())
        return folder + name;
    const QFileInfo shared(RecordPlace::sharedFolder());
    if (shared.isDir() && shared.isWritable())
        return shared.filePath() + name;
    return RecordPlace::userFolder() + name;
}

std::optional<DisplayEntry> DisplayRecord::Contents::find(const DisplayKey &key) const
{
    // Two entries of one display (a hand-edited file): the one that claims
    // less about it wins, since the record must never say more than it knows.
    std::optional<DisplayEntry> found;
    for (const DisplayEntry &e : entries) {
        if (sameDisplay(e.key, key) && (!found || claims(e.state) < claims(found->state)))
            found = e;
    }
    return found;
}

DisplayRecord::Reading DisplayRecord::read(qint64 maxSize) const
{
    Reading reading;
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return reading;
    reading.wholeFile = true;
    if (const std::optional<QString> refused = StoreFile::refusal(m_path, maxSize, QStringLiteral("display record"))) {
        reading.ignored << *refused;
        return reading;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        reading.ignored << QStringLiteral("%1: cannot be read; the display record is ignored").arg(m_path);
        return reading;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    const QJsonValue displays = document.object().value(kDisplays);
    if (error.error != QJsonParseError::NoError || !displays.isArray()) {
        reading.ignored << QStringLiteral("%1: not a display record (%2); it is ignored")
                               .arg(m_path, error.error != QJsonParseError::NoError ? error.errorString()
                                                                                    : QStringLiteral("no list of displays"));
        return reading;
    }
    reading.wholeFile = false;
    for (const QJsonValue &value : displays.toArray()) {
        QString why = QStringLiteral("an entry (not an object)");
        const std::optional<DisplayEntry> entry = value.isObject() ? DisplayEntry::fromJson(value.toObject(), &why)
                                                                   : std::nullopt;
        if (entry)
            reading.entries.append(*entry);
        else
            reading.ignored << why;
    }
    return reading;
}

namespace {
// Another program may be reading it at the moment it is replaced (Windows
// then refuses the replacement): a few more tries, a moment apart. The
// ports of one run do not meet here: their saves queue on the record
// keeper's one thread.
constexpr int kSaveTries = 5;

// A full disk takes part of a write without a word; the next part then
// fails with the reason (ENOSPC), which the operator must see.
bool writeWhole(QFileDevice &file, const QByteArray &bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
constexpr unsigned long kSaveRetryMs = 20;
}  // namespace

DisplayRecord::Contents DisplayRecord::load() const
{
    const Reading reading = read(kMaxFileSize);
    Contents contents;
    contents.entries = reading.entries;
    contents.warning = StoreFile::warning(m_path, reading.ignored, reading.wholeFile, kEntriesNamed);
    return contents;
}

QString DisplayRecord::put(const DisplayKey &key, const std::optional<DisplayEntry> &entry) const
{
    if (m_slowSave.count() > 0)
        QThread::msleep(static_cast<unsigned long>(m_slowSave.count()));
    StoreFile::Lock lock(m_path);
    if (const QString why = lock.take(); !why.isEmpty())
        return why;
    QList<DisplayEntry> entries = read(kMaxFileSizeRead).entries;
    entries.removeIf([&key](const DisplayEntry &e) { return sameDisplay(e.key, key); });
    if (entry)
        entries.prepend(*entry);
    // The latest first, whatever order a hand-edited file had: the caps drop the oldest.
    std::stable_sort(entries.begin(), entries.end(), [](const DisplayEntry &a, const DisplayEntry &b) { return a.when > b.when; });
    entries = entries.mid(0, kMaxEntries);
    QByteArray text;
    for (;;) {
        QJsonArray displays;
        for (const DisplayEntry &e : std::as_const(entries))
            displays.append(e.toJson());
        text = QJsonDocument(QJsonObject{{kDisplays, displays}}).toJson(QJsonDocument::Indented);
        if (text.size() <= kMaxFileSize || entries.size() <= 1)
            break;
        entries.resize(entries.size() - std::max<qsizetype>(1, entries.size() / 8));
    }
    QString why;
    for (int tries = 0; tries < kSaveTries; ++tries) {
        if (tries > 0)
            QThread::msleep(kSaveRetryMs);
        QSaveFile file(m_path);
        // commit() has the bytes on the disk before the new file takes the old
        // one's place: after a power cut the record is the old one or the new.
        if (file.open(QIODevice::WriteOnly) && writeWhole(file, text) && file.commit()) {
            why.clear();
            break;
        }
        why = QStringLiteral("cannot write %1: %2").arg(m_path, file.errorString());
    }
    if (!why.isEmpty())
        return why;
    // The shared folder is group-writable: so is the file, for the next
    // program, which may be another user's.
    if (QFileInfo(QFileInfo(m_path).absolutePath()).permissions() & QFileDevice::WriteGroup)
        QFile::setPermissions(m_path, QFile::permissions(m_path) | QFileDevice::ReadGroup | QFileDevice::WriteGroup);
    return {};
}
