// A rule parseRule accepts, written by formatRule, reads back as the same
// rule, and is written the same way again.
#include "sim/faultplan.h"

#include <QRegularExpression>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const std::optional<FaultRule> rule = FaultPlan::parseRule(text, &error);
    if (!rule)
        return 0;
    const QString formatted = FaultPlan::formatRule(*rule);
    const std::optional<FaultRule> again = FaultPlan::parseRule(formatted, &error);
    // The kind written is the kind that was read: the same word, whatever its case.
    const qsizetype kindEnds = formatted.indexOf(QRegularExpression(QStringLiteral("[#@=]")));
    if (kindEnds < 1 || !again || !(*again == *rule) || FaultPlan::formatRule(*again) != formatted
        || !text.trimmed().toCaseFolded().startsWith(formatted.first(kindEnds)))
        std::abort();
    return 0;
}
