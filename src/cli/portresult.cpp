#include "cli/portresult.h"

QString outcomeWord(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Completed: return QStringLiteral("completed");
    case DownloadOutcome::DialogCancelled: return QStringLiteral("no-file-chosen");
    case DownloadOutcome::FileUnreadable: return QStringLiteral("file-unreadable");
    case DownloadOutcome::ImageEmpty: return QStringLiteral("image-empty");
    case DownloadOutcome::ImageTooLarge: return QStringLiteral("image-too-large");
    case DownloadOutcome::PortUnavailable: return QStringLiteral("port-unavailable");
    case DownloadOutcome::AccessTimeout: return QStringLiteral("access-timeout");
    case DownloadOutcome::WrongVersion: return QStringLiteral("wrong-version");
    case DownloadOutcome::AccessRefused: return QStringLiteral("access-refused");
    case DownloadOutcome::EraseFailed: return QStringLiteral("erase-failed");
    case DownloadOutcome::DataFrameFailed: return QStringLiteral("data-frame-failed");
    case DownloadOutcome::Cancelled: return QStringLiteral("cancelled");
    }
    return QStringLiteral("failed");
}
