#include "cli/portresult.h"

#include "cli/exitstatus.h"
#include "link/target.h"

int PortResult::exitCode() const
{
    return ExitCode::of(outcome);
}

QString PortResult::outcomeText() const
{
    if (message.isEmpty())
        return word();
    // "COM 2: not available.", "/dev/ttyUSB9: not available.": the name, then what happened.
    if (outcome == DownloadOutcome::PortUnavailable)
        return Target::kNotAvailable;
    if (outcome == DownloadOutcome::UpToDate)
        return word();  // the table's own port column names it; the record's words would crowd it
    return message;
}

QString portLine(const QString &port, const QString &text)
{
    // As a name of its own, not as a part of another ("1" in "/dev/ttyS1").
    const auto isBefore = [](QChar c) { return c.isSpace() || c == u'('; };
    const auto isAfter = [](QChar c) { return c.isSpace() || QStringView(u"):,;").contains(c); };
    for (qsizetype at = text.indexOf(port, 0, Qt::CaseInsensitive); at >= 0 && !port.isEmpty();
         at = text.indexOf(port, at + 1, Qt::CaseInsensitive)) {
        const qsizetype end = at + port.size();
        if ((at == 0 || isBefore(text.at(at - 1))) && (end == text.size() || isAfter(text.at(end))))
            return text;
    }
    return port + QStringLiteral(": ") + text;
}
