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
// nothing works an outcome out again from a message.
struct OutcomeRow {
    DownloadOutcome outcome;
    const char *word;     // stable, for scripts and reports: "completed", "access-timeout", ...
    const char *message;  // the operator's message box; empty where none is shown as such
    int exitCode;         // custdisp-cli's exit status
    bool clearsProgress;  // the bar goes back to 0 after the message
    const char *summary;  // custdisp-cli --help's line for the exit status
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

// Exit statuses of custdisp-cli that are no download's outcome.
namespace ExitCode {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;  // anything not in the table
constexpr int kUsage = 2;
constexpr int kSomeFailed = 12;  // several ports, and not every one succeeded (13 is in the table)

inline int of(DownloadOutcome outcome)
{
    return outcomeRow(outcome).exitCode;
}
}  // namespace ExitCode
