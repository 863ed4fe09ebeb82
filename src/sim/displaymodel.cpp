#include "sim/displaymodel.h"

#include "sim/displaywire.h"

namespace {

bool takesTheFrame(const FaultAction &action)
{
    return action.type == FaultAction::Type::Answer && action.byte == DisplayWire::kFrameOk;
}

// What the log says of an action beyond its answer byte.
void describe(const FaultAction &action, HeardMessage &heard)
{
    if (action.type == FaultAction::Type::Answer)
        heard.answer = action.byte;
    if (action.type == FaultAction::Type::HangUp)
        addNote(heard.note, QStringLiteral("hung up"));
    else if (action.hangUpAfter)
        addNote(heard.note, QStringLiteral("hangs up after the answer"));
    if (!action.more.isEmpty())
        addNote(heard.note, QStringLiteral("and %1").arg(QString::fromLatin1(action.more.toHex(' '))));
    if (!action.later.isEmpty())
        addNote(heard.note, QStringLiteral("then %1 after %2 ms")
                                .arg(QString::fromLatin1(action.later.toHex(' ')))
                                .arg(action.laterAfter.count()));
}

}  // namespace

DisplayParameters DisplayParameters::ofPacket(QByteArrayView packet)
{
    using namespace DisplayWire;
    return {quint8(packet[kBaudCodeAt]), quint8(packet[kLanguageAt]), quint8(packet[kCodeTableAt]),
            quint8(packet[kEmulationAt])};
}

QList<DisplayReply> DisplayModel::heard(QByteArrayView bytes, Time at)
{
    QList<DisplayReply> replies;
    if (m_hungUp)
        return replies;
    m_arrivedAt = at;
    m_crossedAt = m_pace.arrived(bytes.size(), at);
    for (const ParsedMessage &m : m_protocol.feed(bytes)) {
        replies.append(reply(m));
        if (m_hungUp)
            break;  // nothing after that message reaches the display
    }
    return replies;
}

std::optional<DisplayReply> DisplayModel::lineClosed()
{
    std::optional<ParsedMessage> rest = m_protocol.lineClosed();
    if (!rest || m_hungUp)
        return std::nullopt;
    return reply(*rest);
}

DisplayReply DisplayModel::reply(const ParsedMessage &m)
{
    DisplayReply r;
    r.heard = HeardMessage{m.kind, m.bytes, m.size, m.problem, std::nullopt, -1, 0};
    if (const std::optional<FaultAction> action = judge(m, r.heard)) {
        describe(*action, r.heard);
        act(*action, r);
    }
    if (m.kind == MessageKind::VersionQuery && m.ok())
        r.says.append({answerAt(DisplayWire::kVersionText.size(), {}), DisplayWire::kVersionText});
    return r;
}

std::optional<FaultAction> DisplayModel::judge(const ParsedMessage &m, HeardMessage &heard)
{
    switch (m.kind) {
    case MessageKind::ParameterPacket:
        if (m.ok())
            m_parameters = DisplayParameters::ofPacket(m.bytes);
        return std::nullopt;
    case MessageKind::AccessCommand: return judgeAccess(heard);
    case MessageKind::EraseFrame: return judgeErase(m, heard);
    case MessageKind::DataFrame: return judgeData(m, heard);
    case MessageKind::EndFrame: return judgeEnd(heard);
    case MessageKind::VersionQuery:
    case MessageKind::Garbage: break;
    }
    return std::nullopt;
}

std::optional<FaultAction> DisplayModel::judgeAccess(HeardMessage &heard)
{
    heard.attempt = ++m_accessAttempts;
    m_eraseAttempts = 0;
    m_endAttempts = 0;
    m_expectedStart = 0;
    m_lastStart = -1;
    return m_plan.actionFor(MessageKind::AccessCommand, -1, heard.attempt)
        .value_or(FaultAction::answer(DisplayWire::kAccessOk));
}

std::optional<FaultAction> DisplayModel::judgeErase(const ParsedMessage &m, HeardMessage &heard)
{
    heard.attempt = ++m_eraseAttempts;
    const FaultAction action = m.ok() ? m_plan.actionFor(m.kind, -1, heard.attempt)
                                            .value_or(FaultAction::answer(DisplayWire::kFrameOk))
                                      : FaultAction::answer(DisplayWire::kFrameRefused);
    if (takesTheFrame(action))
        m_image.clear();
    return action;
}

std::optional<FaultAction> DisplayModel::judgeData(const ParsedMessage &m, HeardMessage &heard)
{
    constexpr int kBlock = int(DisplayWire::kBlock);
    heard.attempt = (m.start == m_lastStart) ? m_dataAttempts + 1 : 1;
    m_dataAttempts = heard.attempt;
    m_lastStart = m.start;
    heard.frame = m.start >= 0 && m.start % kBlock == 0 ? m.start / kBlock : -1;
    if (!m.ok())
        return FaultAction::answer(DisplayWire::kFrameRefused);
    // The frame it took last may come again: its answer can be lost on the
    // way, and the tool then sends it once more. It is written again.
    const bool again = m.start == m_expectedStart - kBlock && m.start >= 0;
    if (m.start != m_expectedStart && !again) {
        heard.note = QStringLiteral("start address %1, expected %2").arg(m.start).arg(m_expectedStart);
        return FaultAction::answer(DisplayWire::kFrameRefused);
    }
    const FaultAction action =
        m_plan.actionFor(m.kind, heard.frame, heard.attempt).value_or(FaultAction::answer(DisplayWire::kFrameOk));
    if (takesTheFrame(action)) {
        m_image.resize(m.start);  // frames come in order, or the last one again
        m_image.append(m.data);
        m_expectedStart = m.start + kBlock;
    }
    return action;
}

std::optional<FaultAction> DisplayModel::judgeEnd(HeardMessage &heard)
{
    m_accessAttempts = 0;
    heard.attempt = ++m_endAttempts;
    ++m_endFrames;
    addNote(heard.note, QStringLiteral("image of %1 bytes").arg(m_image.size()));
    // A healthy display says nothing to an end frame; the plan may.
    return m_plan.actionFor(MessageKind::EndFrame, -1, heard.attempt);
}

void DisplayModel::act(const FaultAction &action, DisplayReply &reply)
{
    switch (action.type) {
    case FaultAction::Type::Silence:
        return;
    case FaultAction::Type::HangUp:
        m_hungUp = true;
        reply.hangsUpAt = m_arrivedAt;
        return;
    case FaultAction::Type::Answer:
        break;
    }
    const QByteArray answer = QByteArray(1, char(action.byte)) + action.more;
    const Time at = answerAt(answer.size(), action.delay);
    reply.says.append({at, answer});
    if (!action.later.isEmpty())
        reply.says.append({at + action.laterAfter, action.later});
    if (action.hangUpAfter) {
        // The cable is pulled once the answer is out: nothing after this message arrives.
        m_hungUp = true;
        reply.hangsUpAt = at;
    }
}

// An answer goes out once the message has crossed the line; it has crossed
// itself after its own wire time, and `delay` later still if the plan says so.
DisplayModel::Time DisplayModel::answerAt(qsizetype bytes, std::chrono::milliseconds delay) const
{
    return m_crossedAt + m_pace.wireTime(bytes) + delay;
}
