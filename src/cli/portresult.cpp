#include "cli/portresult.h"

#include <QRegularExpression>

QString PortResult::outcomeText() const
{
    if (message.isEmpty())
        return outcome;
    // "COM 2: not available.", "/dev/ttyUSB9: not available.": the name, then what happened.
    if (outcome == outcomeWord(DownloadOutcome::PortUnavailable) && message.contains(QStringLiteral(": ")))
        return message.mid(message.lastIndexOf(QStringLiteral(": ")) + 2);
    return message;
}

QString portLine(const QString &port, const QString &text)
{
    // As a name of its own, not as a part of another ("1" in "/dev/ttyS1").
    const QRegularExpression named(QStringLiteral(R"((^|[\s(])%1($|[\s):,;]))").arg(QRegularExpression::escape(port)),
                                   QRegularExpression::CaseInsensitiveOption);
    return text.contains(named) ? text : port + QStringLiteral(": ") + text;
}
