#pragma once

#include "isp/firmwaredownload.h"

// One exit code per outcome, so scripts can tell them apart.
namespace ExitCode {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;          // anything not listed below
constexpr int kUsage = 2;
constexpr int kPortUnavailable = 3;
constexpr int kFileUnreadable = 4;
constexpr int kImageSize = 5;        // empty, or too large for the display
constexpr int kAccessTimeout = 6;
constexpr int kWrongVersion = 7;
constexpr int kAccessRefused = 8;
constexpr int kEraseFailed = 9;
constexpr int kDataFrameFailed = 10;
constexpr int kCancelled = 11;
constexpr int kSomeFailed = 12;      // several ports, and not every one succeeded

constexpr int of(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Completed: return kSuccess;
    case DownloadOutcome::DialogCancelled: return kUsage;
    case DownloadOutcome::FileUnreadable: return kFileUnreadable;
    case DownloadOutcome::ImageEmpty:
    case DownloadOutcome::ImageTooLarge: return kImageSize;
    case DownloadOutcome::PortUnavailable: return kPortUnavailable;
    case DownloadOutcome::AccessTimeout: return kAccessTimeout;
    case DownloadOutcome::WrongVersion: return kWrongVersion;
    case DownloadOutcome::AccessRefused: return kAccessRefused;
    case DownloadOutcome::EraseFailed: return kEraseFailed;
    case DownloadOutcome::DataFrameFailed: return kDataFrameFailed;
    case DownloadOutcome::Cancelled: return kCancelled;
    }
    return kFailure;
}
}  // namespace ExitCode
