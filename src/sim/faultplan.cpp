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

// The delay in capture `n` (none: 0 ms), or nullopt once refused as too long.
template<typename Refuse>
std::optional<std::chrono::milliseconds> delayOf(const QRegularExpressionMatch &m, int n, const Refuse &refuse)
{
    if (!m.hasCaptured(n))
        return std::chrono::milliseconds{0};
    bool ok = false;
    const qlonglong ms = m.captured(n).toLongLong(&ok);
    if (!ok || ms > FaultPlan::kMaxDelay.count()) {
        refuse(QStringLiteral("a delay of %1 ms is over the limit of %2 ms (one minute)")
                   .arg(m.captured(n))
                   .arg(FaultPlan::kMaxDelay.count()));
        return std::nullopt;
    }
    return std::chrono::milliseconds(ms);
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
    static const QRegularExpression form(
        QStringLiteral(R"(^(access|erase|data|end)(?:#(\d+))?(?:@(\d+))?=)"
                       R"((?:(silent|hangup)|(0x[0-9a-f]{1,2}(?:,0x[0-9a-f]{1,2})*)(?:\+(\d+)ms)?)"
                       R"((?:\+then:(0x[0-9a-f]{1,2}(?:,0x[0-9a-f]{1,2})*)@(\d+)ms)?(\+hangup)?)$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString rule = text.trimmed();
    const auto refuse = [&](const QString &why) -> std::optional<FaultRule> {
        *error = QStringLiteral("fault rule '%1': %2").arg(rule, why);
        return std::nullopt;
    };
    const QRegularExpressionMatch m = form.match(rule);
    if (!m.hasMatch()) {
        *error = QStringLiteral("'%1' is not a fault rule "
                                "(KIND[#FRAME][@ATTEMPT]=silent|hangup|0xNN[,0xNN...][+Nms][+then:0xNN[,0xNN...]@Nms][+hangup])")
                     .arg(text);
        return std::nullopt;
    }

    FaultRule result;
    // Folded, not lowered: the case-insensitive match lets a long s stand for
    // s, and only folding turns it back into the word that matched.
    const QString kind = m.captured(1).toCaseFolded();
    result.kind = kind == QLatin1String("access") ? MessageKind::AccessCommand
                  : kind == QLatin1String("erase") ? MessageKind::EraseFrame
                  : kind == QLatin1String("data")  ? MessageKind::DataFrame
                                                   : MessageKind::EndFrame;
    if (m.hasCaptured(2)) {
        if (result.kind != MessageKind::DataFrame)
            return refuse(QStringLiteral("only data frames have numbers; %1 would never match").arg(kind));
        bool ok = false;
        const qlonglong frame = m.captured(2).toLongLong(&ok);
        if (!ok || frame > kLastFrame)
            return refuse(QStringLiteral("data frame %1 would never match: frames count from 0 and the last is %2 "
                                         "(%3 frames of %4 bytes fill the 16-bit addresses)")
                              .arg(m.captured(2))
                              .arg(kLastFrame)
                              .arg(kLastFrame + 1)
                              .arg(kBlock));
        result.frame = int(frame);
    }
    if (m.hasCaptured(3)) {
        bool ok = false;
        const int attempt = m.captured(3).toInt(&ok);
        if (!ok)
            return refuse(QStringLiteral("attempt %1 would never match: a message is not heard that often in a row "
                                         "(at most %2)")
                              .arg(m.captured(3))
                              .arg(std::numeric_limits<int>::max()));
        if (attempt < 1)
            return refuse(QStringLiteral("attempt %1 would never match: attempts count from 1").arg(m.captured(3)));
        result.attempt = attempt;
    }

    const QString fixed = m.captured(4).toCaseFolded();
    if (fixed == QLatin1String("silent")) {
        result.action = FaultAction::silence();
    } else if (fixed == QLatin1String("hangup")) {
        result.action = FaultAction::hangUp();
    } else {
        std::optional<std::chrono::milliseconds> delay = delayOf(m, 6, refuse);
        std::optional<std::chrono::milliseconds> laterAfter = delayOf(m, 8, refuse);
        if (!delay || !laterAfter)
            return std::nullopt;
        if (m.hasCaptured(7) && m.hasCaptured(9))
            return refuse(QStringLiteral("+then would never be said: +hangup closes the line once the answer is out"));
        const QByteArray bytes = bytesOf(m.captured(5));
        result.action = m.hasCaptured(9) ? FaultAction::answerThenHangUp(quint8(bytes.front()), *delay)
                                         : FaultAction::answer(quint8(bytes.front()), *delay);
        result.action.more = bytes.mid(1);
        result.action.later = bytesOf(m.captured(7));
        result.action.laterAfter = *laterAfter;
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
