#include "sim/displayprotocol.h"

#include "sim/displaywire.h"

#include <optional>

namespace {
using namespace DisplayWire;

quint8 xorOf(QByteArrayView bytes)
{
    quint8 x = 0;
    for (char c : bytes)
        x ^= quint8(c);
    return x;
}

ParsedMessage message(MessageKind kind, QByteArray bytes, QString problem = {})
{
    const qsizetype size = bytes.size();
    return ParsedMessage{kind, std::move(bytes), std::move(problem), -1, -1, {}, size};
}

// Garbage keeps only the first few of its bytes; its size counts them all.
ParsedMessage garbage(QByteArrayView bytes, QString problem)
{
    // clang-format off
    return ParsedMessage{MessageKind::Garbage, bytes.first(qMin(bytes.size(), DisplayProtocol::kGarbageKept)).toByteArray(),
                         std::move(problem), -1, -1, {}, bytes.size()};
    // clang-format on
}

// A byte that may begin a message outside firmware mode.
bool beginsAMessage(char c)
{
    return c == kStx || c == kAccessCommand[0];
}

ParsedMessage parameterPacket(QByteArray bytes)
{
    ParsedMessage m = message(MessageKind::ParameterPacket, bytes);
    if (bytes[kPacketEtxAt] != kEtx)
        m.problem = QStringLiteral("no end byte at offset %1").arg(kPacketEtxAt);
    else if (xorOf(bytes.first(kPacketCheckAt)) != quint8(bytes[kPacketCheckAt]))
        m.problem = QStringLiteral("check byte %1, expected %2")
                        .arg(quint8(bytes[kPacketCheckAt]), 2, 16, QLatin1Char('0'))
                        .arg(xorOf(bytes.first(kPacketCheckAt)), 2, 16, QLatin1Char('0'));
    return m;
}

ParsedMessage dataFrame(QByteArray bytes)
{
    const auto at = [&](qsizetype i) { return int(quint8(bytes[i])); };
    // clang-format off
    ParsedMessage m{MessageKind::DataFrame, bytes, {}, at(kStartAt) * 256 + at(kStartAt + 1),
                    at(kEndAt + 1) * 256 + at(kEndAt), bytes.mid(kBlockAt, kBlock), bytes.size()};
    // clang-format on
    if (m.end != m.start + int(kBlock) - 1)
        m.problem = QStringLiteral("end address %1 for start %2").arg(m.end).arg(m.start);
    else if (xorOf(QByteArrayView(bytes).sliced(kStartAt, kChecksumAt - kStartAt)) != quint8(bytes[kChecksumAt]))
        m.problem = QStringLiteral("checksum mismatch");
    else if (at(kTrailerAt) != kTrailer1 || at(kTrailerAt + 1) != kTrailer2)
        m.problem = QStringLiteral("trailer is not 55 AA");
    return m;
}

ParsedMessage plainFrame(MessageKind kind, QByteArray bytes)
{
    ParsedMessage m = message(kind, bytes);
    for (qsizetype i = 1; i < bytes.size(); ++i) {
        if (bytes[i] != 0) {
            m.problem = QStringLiteral("non-zero byte at offset %1").arg(i);
            break;
        }
    }
    return m;
}

}  // namespace

QString messageKindName(MessageKind kind)
{
    switch (kind) {
    case MessageKind::ParameterPacket: return QStringLiteral("parameters");
    case MessageKind::VersionQuery: return QStringLiteral("version query");
    case MessageKind::AccessCommand: return QStringLiteral("access");
    case MessageKind::EraseFrame: return QStringLiteral("erase");
    case MessageKind::DataFrame: return QStringLiteral("data");
    case MessageKind::EndFrame: return QStringLiteral("end");
    case MessageKind::Garbage: break;
    }
    return QStringLiteral("garbage");
}

void DisplayProtocol::reset()
{
    m_buffer.clear();
    m_firmwareMode = false;
}

QList<ParsedMessage> DisplayProtocol::feed(QByteArrayView bytes)
{
    m_buffer.append(bytes);
    QList<ParsedMessage> out;
    while (std::optional<ParsedMessage> m = next()) {
        // One report for a run of garbage with one cause.
        if (m->kind == MessageKind::Garbage && !out.isEmpty() && out.last().kind == MessageKind::Garbage
            && out.last().problem == m->problem) {
            ParsedMessage &run = out.last();
            run.size += m->size;
            run.bytes.append(m->bytes.first(qMin(m->bytes.size(), kGarbageKept - run.bytes.size())));
            continue;
        }
        out.append(std::move(*m));
    }
    return out;
}

std::optional<ParsedMessage> DisplayProtocol::lineClosed()
{
    std::optional<ParsedMessage> rest;
    if (!m_buffer.isEmpty())
        rest = garbage(m_buffer, m_firmwareMode ? QStringLiteral("%1 of a %2-byte frame when the line closed")
                                                      .arg(m_buffer.size())
                                                      .arg(kFrameLength)
                                                : QStringLiteral("unfinished message when the line closed"));
    reset();
    return rest;
}

std::optional<ParsedMessage> DisplayProtocol::next()
{
    if (m_buffer.isEmpty())
        return std::nullopt;
    const auto take = [this](qsizetype n) {
        QByteArray head = m_buffer.first(n);
        m_buffer.remove(0, n);
        return head;
    };

    if (m_firmwareMode) {
        if (m_buffer.size() < kFrameLength)
            return std::nullopt;
        QByteArray frame = take(kFrameLength);
        switch (frame[0]) {
        case kEraseType: return plainFrame(MessageKind::EraseFrame, frame);
        case kDataType: return dataFrame(frame);
        case kEndType:
            m_firmwareMode = false;
            return plainFrame(MessageKind::EndFrame, frame);
        default:
            return garbage(frame, QStringLiteral("unknown frame type"));
        }
    }

    if (m_buffer[0] == kStx) {
        if (m_buffer.size() < 2)
            return std::nullopt;
        if (m_buffer[1] == kSetParameters) {
            if (m_buffer.size() < kPacketLength)
                return std::nullopt;
            return parameterPacket(take(kPacketLength));
        }
        if (m_buffer[1] == kQueryVersion) {
            if (m_buffer.size() < kVersionQuery.size())
                return std::nullopt;
            QByteArray q = take(kVersionQuery.size());
            return message(MessageKind::VersionQuery, q,
                           q == kVersionQuery ? QString() : QStringLiteral("malformed version query"));
        }
    } else if (m_buffer[0] == kAccessCommand[0]) {
        const qsizetype n = qMin(m_buffer.size(), kAccessCommand.size());
        if (m_buffer.first(n) == kAccessCommand.first(n)) {
            if (n < kAccessCommand.size())
                return std::nullopt;
            m_firmwareMode = true;
            return message(MessageKind::AccessCommand, take(kAccessCommand.size()));
        }
    }
    // The first byte begins no message; so do the bytes after it up to the
    // next one that might.
    qsizetype n = 1;
    while (n < m_buffer.size() && !beginsAMessage(m_buffer[n]))
        ++n;
    const ParsedMessage run = garbage(QByteArrayView(m_buffer).first(n), QStringLiteral("unexpected bytes"));
    m_buffer.remove(0, n);
    return run;
}
