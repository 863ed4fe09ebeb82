#pragma once

#include "sim/displayprotocol.h"
#include "sim/faultplan.h"
#include "sim/linepace.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// The four parameters of a good parameter packet.
struct DisplayParameters {
    quint8 baudCode = 0;
    quint8 language = 0;
    quint8 codeTable = 0;
    quint8 emulation = 0;
    bool operator==(const DisplayParameters &) const = default;

    // The packet's parameter bytes (the packet is whole; its checks are the parser's).
    static DisplayParameters ofPacket(QByteArrayView packet);
};

// Notes on one message, "; " between them.
inline void addNote(QString &note, const QString &more)
{
    note = note.isEmpty() ? more : note + QStringLiteral("; ") + more;
}

// One message the display heard, and what it made of it.
struct HeardMessage {
    MessageKind kind = MessageKind::Garbage;
    QByteArray bytes;              // a garbage run keeps only its first few bytes
    qint64 byteCount = 0;          // bytes it took on the line (a garbage run: all of them)
    QString note;                  // a problem found, or what was decoded
    std::optional<quint8> answer;  // nullopt: it stayed silent (or answered text)
    int frame = -1;                // data frames: index from 0
    int attempt = 0;               // how many times in a row it heard this message
};

// What the display does about one message: what it says and when (each time
// is when those bytes have crossed the line), and whether it hangs up.
struct DisplayReply {
    using Time = LinePace::Time;
    struct Saying {
        Time at;
        QByteArray bytes;
        bool operator==(const Saying &) const = default;
    };

    HeardMessage heard;
    QList<Saying> says;  // in order of time
    // When it closes the line, as a pulled cable would: when the message
    // arrived for a plain hang-up, once its answer is out for answer-then-hang-up.
    std::optional<Time> hangsUpAt;
};

// A customer display as a state machine, seen from its own side of the line:
// it hears bytes with the time they arrived and returns what it answers and
// when, per its fault plan (a healthy display by default), no sooner than the
// line allows; it keeps what it stores (the parameters, the image rebuilt from
// the data frames it took). No I/O, no clock, no threads: times come in with
// the bytes and go out with the answers, on the caller's clock.
class DisplayModel {
public:
    using Time = LinePace::Time;

    void setFaultPlan(FaultPlan plan) { m_plan = std::move(plan); }
    // The speed the tool set on the line (0: not known: nothing takes time).
    void setLineSpeed(int baud) { m_pace.setBaud(baud); }

    // Bytes that arrived at `at`: a reply for every message (or run of
    // garbage) they complete. After a hang-up it hears nothing.
    QList<DisplayReply> heard(QByteArrayView bytes, Time at);
    // The tool closed its side: what an unfinished message left, as garbage.
    std::optional<DisplayReply> lineClosed();
    bool hungUp() const { return m_hungUp; }

    std::optional<DisplayParameters> parameters() const { return m_parameters; }
    const QByteArray &image() const { return m_image; }  // rebuilt from the data frames it took
    int endFrames() const { return m_endFrames; }

private:
    DisplayReply reply(const ParsedMessage &m);
    std::optional<FaultAction> judge(const ParsedMessage &m, HeardMessage &heard);
    std::optional<FaultAction> judgeAccess(HeardMessage &heard);
    std::optional<FaultAction> judgeErase(const ParsedMessage &m, HeardMessage &heard);
    std::optional<FaultAction> judgeData(const ParsedMessage &m, HeardMessage &heard);
    std::optional<FaultAction> judgeEnd(HeardMessage &heard);
    void act(const FaultAction &action, DisplayReply &reply);
    Time answerAt(qsizetype bytes, std::chrono::milliseconds delay) const;

    FaultPlan m_plan;
    DisplayProtocol m_protocol;
    LinePace m_pace;
    Time m_arrivedAt{0};  // of the bytes being heard
    Time m_crossedAt{0};  // when the last of them has crossed the line
    bool m_hungUp = false;

    std::optional<DisplayParameters> m_parameters;
    QByteArray m_image;
    int m_endFrames = 0;

    int m_accessAttempts = 0;
    int m_eraseAttempts = 0;
    int m_endAttempts = 0;
    int m_dataAttempts = 0;
    int m_lastStart = -1;
    int m_expectedStart = 0;
};
