#pragma once

#include <QString>

#include <span>

// Every way a download ends.
enum class DownloadOutcome {
    Completed,
    DialogCancelled,
    FileUnreadable,
    ImageEmpty,
    ImageTooLarge,
    PortUnavailable,
    AccessTimeout,
    WrongVersion,
    AccessRefused,
    EraseFailed,
    DataFrameFailed,
    Cancelled,         // the operator stopped it (window closed, Ctrl-C)
    UpToDate,          // skipped: the record says the display holds this very image
    RecordUnwritable,  // nothing sent: the display record could not say "under way"
};

// What an outcome means, in one row: every front end reads it here, and
// nothing works an outcome out again from a message. (The command line's
// exit statuses are its own: cli/exitstatus.h.)
struct OutcomeRow {
    DownloadOutcome outcome;
    const char *word;     // stable, for scripts and reports: "completed", "access-timeout", ...
    const char *message;  // the operator's message box; empty where none is shown as such
    bool clearsProgress;  // the bar goes back to 0 after the message
    bool success;         // the display holds the image, as asked
};

std::span<const OutcomeRow> outcomeTable();
const OutcomeRow &outcomeRow(DownloadOutcome outcome);

inline QString outcomeWord(DownloadOutcome outcome)
{
    return QString::fromLatin1(outcomeRow(outcome).word);
}

// The message the operator sees for an outcome ("ISP Transmit OK!", ...);
// empty where the message is shown where it happens (it names the file or
// the port) or none is shown.
inline QString downloadMessage(DownloadOutcome outcome)
{
    return QString::fromLatin1(outcomeRow(outcome).message);
}
