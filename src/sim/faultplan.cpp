#include "sim/faultplan.h"

#include <QRegularExpression>
#include <QStringList>

#include <limits>

namespace {

// "0xAA,0x5" as bytes.
QByteArray bytesOf(const QString &list)
{
    QByteArray bytes;
    for (const QString &b : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
        bytes.append(char(b.mid(2).toUInt(nullptr, 16)));
    return bytes;
}

// The delay in capture `n` (none: 0 ms), or nullopt with *why set when too long.
std::optional<std::chrono::milliseconds> delayOf(const QRegularExpressionMatch &m, int n, QString *why)
{
    if (!m.hasCaptured(n))
        return std::chrono::milliseconds{0};
    bool ok = false;
    const qlonglong ms = m.captured(n).toLongLong(&ok);
    if (!ok || ms > FaultPlan::kMaxDelay.count()) {
        *why = QStringLiteral("a delay of %1 ms is over the limit of %2 ms (one minute)")
                   .arg(m.captured(n))
                   .arg(FaultPlan::kMaxDelay.count());
        return std::nullopt;
    }
    return std::chrono::milliseconds(ms);
}

// Captures: 1 kind, 2 frame, 3 attempt, 4 silent|hangup, 5 bytes, 6 delay,
// 7 bytes said later, 8 how much later, 9 +hangup.
const QRegularExpression &ruleForm()
{
    static const QRegularExpression form(
        QStringLiteral(R"(^(access|erase|data|end)(?:#(\d+))?(?:@(\d+))?=)"
                       R"((?:(silent|hangup)|(0x[0-9a-f]{1,2}(?:,0x[0-9a-f]{1,2})*)(?:\+(\d+)ms)?)"
                       R"((?:\+then:(0x[0-9a-f]{1,2}(?:,0x[0-9a-f]{1,2})*)@(\d+)ms)?(\+hangup)?)$)"),
        QRegularExpression::CaseInsensitiveOption);
    return form;
}

MessageKind kindOf(const QString &kind)
{
    return kind == QLatin1String("access")  ? MessageKind::AccessCommand
           : kind == QLatin1String("erase") ? MessageKind::EraseFrame
           : kind == QLatin1String("data")  ? MessageKind::DataFrame
                                            : MessageKind::EndFrame;
}

bool readFrame(const QRegularExpressionMatch &m, const QString &kind, FaultRule &rule, QString *why)
{
    if (!m.hasCaptured(2))
        return true;
    if (rule.kind != MessageKind::DataFrame) {
        *why = QStringLiteral("only data frames have numbers; %1 would never match").arg(kind);
        return false;
    }
    bool ok = false;
    const qlonglong frame = m.captured(2).toLongLong(&ok);
    if (!ok || frame > FaultPlan::kLastFrame) {
        *why = QStringLiteral("data frame %1 would never match: frames count from 0 and the last is %2 "
                              "(%3 frames of %4 bytes fill the 16-bit addresses)")
                   .arg(m.captured(2))
                   .arg(FaultPlan::kLastFrame)
                   .arg(FaultPlan::kLastFrame + 1)
                   .arg(DisplayWire::kBlock);
        return false;
    }
    rule.frame = int(frame);
    return true;
}

bool readAttempt(const QRegularExpressionMatch &m, FaultRule &rule, QString *why)
{
    if (!m.hasCaptured(3))
        return true;
    bool ok = false;
    const int attempt = m.captured(3).toInt(&ok);
    if (!ok) {
        *why = QStringLiteral("attempt %1 would never match: a message is not heard that often in a row (at most %2)")
                   .arg(m.captured(3))
                   .arg(std::numeric_limits<int>::max());
        return false;
    }
    if (attempt < 1) {
        *why = QStringLiteral("attempt %1 would never match: attempts count from 1").arg(m.captured(3));
        return false;
    }
    rule.attempt = attempt;
    return true;
}

bool readAction(const QRegularExpressionMatch &m, FaultRule &rule, QString *why)
{
    const QString fixed = m.captured(4).toCaseFolded();
    if (fixed == QLatin1String("silent")) {
        rule.action = FaultAction::silence();
        return true;
    }
    if (fixed == QLatin1String("hangup")) {
        rule.action = FaultAction::hangUp();
        return true;
    }
    // Both delays are read: a refusal of the second one is the one told.
    const std::optional<std::chrono::milliseconds> delay = delayOf(m, 6, why);
    const std::optional<std::chrono::milliseconds> laterAfter = delayOf(m, 8, why);
    if (!delay || !laterAfter)
        return false;
    if (m.hasCaptured(7) && m.hasCaptured(9)) {
        *why = QStringLiteral("+then would never be said: +hangup closes the line once the answer is out");
        return false;
    }
    const QByteArray bytes = bytesOf(m.captured(5));
    rule.action = m.hasCaptured(9) ? FaultAction::answerThenHangUp(quint8(bytes.front()), *delay)
                                   : FaultAction::answer(quint8(bytes.front()), *delay);
    rule.action.more = bytes.mid(1);
    rule.action.later = bytesOf(m.captured(7));
    rule.action.laterAfter = *laterAfter;
    return true;
}

QString hexList(QByteArrayView bytes)
{
    QStringList out;
    for (char b : bytes)
        out << QStringLiteral("0x") + QString::number(quint8(b), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    return out.join(QLatin1Char(','));
}

}  // namespace

std::optional<FaultAction> FaultPlan::actionFor(MessageKind kind, int frame, int attempt) const
{
    for (const FaultRule &rule : rules) {
        if (rule.kind == kind && (rule.frame < 0 || rule.frame == frame)
            && (rule.attempt < 0 || rule.attempt == attempt))
            return rule.action;
    }
    return std::nullopt;
}

std::optional<FaultRule> FaultPlan::parseRule(const QString &text, QString *error)
{
    const QString rule = text.trimmed();
    const QRegularExpressionMatch m = ruleForm().match(rule);
    if (!m.hasMatch()) {
        *error = QStringLiteral("'%1' is not a fault rule "
                                "(KIND[#FRAME][@ATTEMPT]=silent|hangup|0xNN[,0xNN...][+Nms][+then:0xNN[,0xNN...]@Nms][+hangup])")
                     .arg(text);
        return std::nullopt;
    }
    // Folded, not lowered: the case-insensitive match lets a long s stand for
    // s, and only folding turns it back into the word that matched.
    const QString kind = m.captured(1).toCaseFolded();
    FaultRule result;
    result.kind = kindOf(kind);
    QString why;
    if (!readFrame(m, kind, result, &why) || !readAttempt(m, result, &why) || !readAction(m, result, &why)) {
        *error = QStringLiteral("fault rule '%1': %2").arg(rule, why);
        return std::nullopt;
    }
    return result;
}

QString FaultPlan::formatRule(const FaultRule &rule)
{
    QString text;
    switch (rule.kind) {
    case MessageKind::AccessCommand: text = QStringLiteral("access"); break;
    case MessageKind::EraseFrame: text = QStringLiteral("erase"); break;
    case MessageKind::DataFrame: text = QStringLiteral("data"); break;
    case MessageKind::EndFrame: text = QStringLiteral("end"); break;
    case MessageKind::ParameterPacket:
    case MessageKind::VersionQuery:
    case MessageKind::Garbage: return {};
    }
    if (rule.frame >= 0)
        text += QStringLiteral("#%1").arg(rule.frame);
    if (rule.attempt >= 0)
        text += QStringLiteral("@%1").arg(rule.attempt);
    text += QLatin1Char('=');

    const FaultAction &a = rule.action;
    switch (a.type) {
    case FaultAction::Type::Silence: return text + QStringLiteral("silent");
    case FaultAction::Type::HangUp: return text + QStringLiteral("hangup");
    case FaultAction::Type::Answer: break;
    }
    text += hexList(QByteArray(1, char(a.byte)) + a.more);
    if (a.delay.count() != 0)
        text += QStringLiteral("+%1ms").arg(a.delay.count());
    if (!a.later.isEmpty())
        text += QStringLiteral("+then:%1@%2ms").arg(hexList(a.later)).arg(a.laterAfter.count());
    if (a.hangUpAfter)
        text += QStringLiteral("+hangup");
    return text;
}
