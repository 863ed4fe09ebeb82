#include "isp/downloadoutcome.h"

#include <algorithm>
#include <array>

namespace {

using O = DownloadOutcome;

// The messages are the display tool's own words, misspellings included
// ("Failled"), kept exactly as operators know them and as their notes and
// scripts quote them: do not correct them.
constexpr std::array kRows{
    OutcomeRow{O::Completed, "completed", "ISP Transmit OK!", true, true},
    // Nothing sent: the display's record holds this image (isp --skip-held).
    OutcomeRow{O::UpToDate, "up-to-date", "", false, true},
    OutcomeRow{O::DialogCancelled, "no-file-chosen", "", false, false},
    OutcomeRow{O::PortUnavailable, "port-unavailable", "", false, false},
    OutcomeRow{O::FileUnreadable, "file-unreadable", "", false, false},
    OutcomeRow{O::ImageEmpty, "image-empty", "", false, false},
    OutcomeRow{O::ImageTooLarge, "image-too-large", "", false, false},
    OutcomeRow{O::AccessTimeout, "access-timeout", "Time Out Error!", false, false},
    OutcomeRow{O::WrongVersion, "wrong-version", "A Incorrect Version No!", false, false},
    OutcomeRow{O::AccessRefused, "access-refused", "Access ISP Command Failed!", false, false},
    OutcomeRow{O::EraseFailed, "erase-failed", "Erase Command Failed!", false, false},
    OutcomeRow{O::DataFrameFailed, "data-frame-failed", "Transmit Data Failled!", true, false},
    // No message: a stop ends the download without a box.
    OutcomeRow{O::Cancelled, "cancelled", "", true, false},
    OutcomeRow{O::RecordUnwritable, "record-unwritable", "", false, false},
};

}  // namespace

std::span<const OutcomeRow> outcomeTable()
{
    return kRows;
}

const OutcomeRow &outcomeRow(DownloadOutcome outcome)
{
    const auto row = std::find_if(kRows.begin(), kRows.end(), [outcome](const OutcomeRow &r) { return r.outcome == outcome; });
    Q_ASSERT(row != kRows.end());
    return row == kRows.end() ? kRows.back() : *row;
}
