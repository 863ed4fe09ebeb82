#include "cli/portresult.h"

#include "link/target.h"

QString PortResult::outcomeText() const
{
    if (message.isEmpty())
        return outcome;
    // "COM 2: not available.", "/dev/ttyUSB9: not available.": the name, then what happened.
    if (outcome == outcomeWord(DownloadOutcome::PortUnavailable))
        return Target::kNotAvailable;
    if (outcome == outcomeWord(DownloadOutcome::UpToDate))
        return outcome;  // the table's own port column names it; the record's words would crowd it
    return message;
}

QString portLine(const QString &port, const QString &text)
{
    // As a name of its own, not as a part of another ("1" in "/dev/ttyS1").
    // Plain code: this runs on port threads, where a regular expression
    // would leave Qt a per-thread object that crashes the thread's end on
    // Windows (see WindowsPortName::canonical).
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
