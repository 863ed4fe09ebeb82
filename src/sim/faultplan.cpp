#include "sim/faultplan.h"

#include <QRegularExpression>

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
    static const QRegularExpression form(QStringLiteral(
        R"(^(access|erase|data|end)(?:#(\d+))?(?:@(\d+))?=(silent|hangup|0x[0-9a-f]{1,2})(?:\+(\d+)ms)?$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch()) {
        *error = QStringLiteral("'%1' is not a fault rule (KIND[#FRAME][@ATTEMPT]=silent|hangup|0xNN[+Nms])")
                     .arg(text);
        return std::nullopt;
    }
    FaultRule rule;
    const QString kind = m.captured(1).toLower();
    rule.kind = kind == QLatin1String("access") ? MessageKind::AccessCommand
                : kind == QLatin1String("erase") ? MessageKind::EraseFrame
                : kind == QLatin1String("data")  ? MessageKind::DataFrame
                                                 : MessageKind::EndFrame;
    rule.frame = m.captured(2).isEmpty() ? -1 : m.captured(2).toInt();
    rule.attempt = m.captured(3).isEmpty() ? -1 : m.captured(3).toInt();
    const QString action = m.captured(4).toLower();
    if (action == QLatin1String("silent"))
        rule.action = FaultAction::silence();
    else if (action == QLatin1String("hangup"))
        rule.action = FaultAction::hangUp();
    else
        rule.action = FaultAction::answer(quint8(action.mid(2).toUInt(nullptr, 16)),
                                          std::chrono::milliseconds(m.captured(5).toInt()));
    return rule;
}
