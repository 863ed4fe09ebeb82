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

QString messageKindName(MessageKind kind);

struct ParsedMessage {
    MessageKind kind = MessageKind::Garbage;
    QByteArray bytes;
    QString problem;  // empty when the message is well formed
    // Data frames: both addresses as the frame states them, and the 184 data bytes.
    int start = -1;
    int end = -1;
    QByteArray data;

    bool ok() const { return problem.isEmpty(); }
};

// A stream parser: feed it bytes as they come, get whole messages back. After
// an access command it expects 192-byte frames until the end frame.
class DisplayProtocol {
public:
    QList<ParsedMessage> feed(QByteArrayView bytes);
    void reset();
    qsizetype pending() const { return m_buffer.size(); }

private:
    std::optional<ParsedMessage> next();

    QByteArray m_buffer;
    bool m_firmwareMode = false;
};
