#include "isp/downloadoutcome.h"

#include <algorithm>
#include <array>

namespace {

using O = DownloadOutcome;

// In the order of the exit statuses, as --help lists them. The messages are
// the display tool's own words, misspellings included ("Failled"), kept
// exactly as operators know them and as their notes and scripts quote them:
// do not correct them.
constexpr std::array kRows{
    OutcomeRow{O::Completed, "completed", "ISP Transmit OK!", 0, true, "success"},
    // Nothing sent: the display's record holds this image (isp --skip-held).
    OutcomeRow{O::UpToDate, "up-to-date", "", 0, false, "success"},
    OutcomeRow{O::DialogCancelled, "no-file-chosen", "", 2, false, "usage"},
    OutcomeRow{O::PortUnavailable, "port-unavailable", "", 3, false, "port unavailable"},
    OutcomeRow{O::FileUnreadable, "file-unreadable", "", 4, false,
               "file unreadable (missing, no permission, or not a regular file)"},
    OutcomeRow{O::ImageEmpty, "image-empty", "", 5, false, "image size not accepted (empty, or over 65,503 bytes)"},
    OutcomeRow{O::ImageTooLarge, "image-too-large", "", 5, false,
               "image size not accepted (empty, or over 65,503 bytes)"},
    OutcomeRow{O::AccessTimeout, "access-timeout", "Time Out Error!", 6, false, "access time-out"},
    OutcomeRow{O::WrongVersion, "wrong-version", "A Incorrect Version No!", 7, false, "wrong version"},
    OutcomeRow{O::AccessRefused, "access-refused", "Access ISP Command Failed!", 8, false, "access refused"},
    OutcomeRow{O::EraseFailed, "erase-failed", "Erase Command Failed!", 9, false, "erase failed"},
    OutcomeRow{O::DataFrameFailed, "data-frame-failed", "Transmit Data Failled!", 10, true, "data frame failed"},
    // No message: a stop ends the download without a box.
    OutcomeRow{O::Cancelled, "cancelled", "", 11, true, "cancelled (Ctrl-C)"},
    OutcomeRow{O::RecordUnwritable, "record-unwritable", "", 13, false,
               "the display record cannot be written; nothing was sent"},
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
