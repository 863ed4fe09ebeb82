#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// What the simulated display hears on its line. Written apart from the
// tool's own builders, so that it catches their mistakes instead of sharing them.
enum class MessageKind {
    ParameterPacket,
    VersionQuery,
    AccessCommand,
    EraseFrame,
    DataFrame,
    EndFrame,
    Garbage,  // bytes that make no message
};
inline constexpr int kMessageKinds = int(MessageKind::Garbage) + 1;

QString messageKindName(MessageKind kind);

struct ParsedMessage {
    MessageKind kind = MessageKind::Garbage;
    QByteArray bytes;  // a run of garbage keeps only its first kGarbageKept bytes
    QString problem;   // empty when the message is well formed
    // Data frames: both addresses as the frame states them, and the 184 data bytes.
    int start = -1;
    int end = -1;
    QByteArray data;
    qsizetype size = 0;  // bytes the message took on the line (for garbage: the whole run)

    bool ok() const { return problem.isEmpty(); }
};

// A stream parser: feed it bytes as they come, get whole messages back. After
// an access command it expects 192-byte frames until the end frame. Bytes that
// make no message are reported once, as one garbage message for every run of
// them, and dropped: nothing it cannot parse stays behind.
class DisplayProtocol {
public:
    static constexpr qsizetype kGarbageKept = 16;  // bytes of a garbage run kept for the log

    QList<ParsedMessage> feed(QByteArrayView bytes);
    // The line closed: whatever is left of an unfinished message, as garbage
    // (nullopt if nothing is), and the parser starts afresh.
    std::optional<ParsedMessage> lineClosed();
    void reset();
    qsizetype pending() const { return m_buffer.size(); }

private:
    std::optional<ParsedMessage> next();

    QByteArray m_buffer;
    bool m_firmwareMode = false;
};
