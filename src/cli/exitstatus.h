#pragma once

#include "isp/downloadoutcome.h"

#include <QString>

// custdisp-cli's exit statuses: one for each way a download ends (several
// share one), and those that are no download's outcome.
namespace ExitCode {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;  // anything not in the table
constexpr int kUsage = 2;
constexpr int kSomeFailed = 12;  // several ports, and not every one succeeded

int of(DownloadOutcome outcome);
// --help's list: each status once, with what it means.
QString helpList();
}  // namespace ExitCode
