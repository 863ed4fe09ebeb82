#pragma once

#include "isp/downloadoutcome.h"
#include "settings/displayrecord.h"

#include <QString>

#include <optional>

struct FirmwareImage;

// A download's life in the display record, the same for every front end:
// begin() before anything is written to the port, end() with the outcome.
// In between the display's entry says "under way: contents unknown", so a
// program killed in the middle leaves the truth behind.
class DownloadRecord {
public:
    explicit DownloadRecord(DisplayRecord record = DisplayRecord());

    // The key a device is kept by: its real device and its by-id name.
    static DisplayKey keyOf(const QString &device);

    // Marks `device`'s display as being written with `image` by `program`.
    // Returns why the record could not be written (then nothing should be
    // sent: the old entry would outlive a download that fails), or empty.
    [[nodiscard]] QString begin(const QString &device, const FirmwareImage &image, const QString &program);
    // The download ended. Completed: the display holds the image. Before the
    // erase (port unavailable, access refused or timed out, wrong version)
    // the display is untouched and the earlier entry comes back. Any other
    // end: "did not complete". Returns why the record could not be written.
    [[nodiscard]] QString end(DownloadOutcome outcome, int framesSent);

    // The warning reading the record gave at begin(), if any.
    QString warning() const { return m_warning; }

private:
    DisplayRecord m_record;
    std::optional<DisplayEntry> m_earlier;
    std::optional<DisplayEntry> m_current;
    QString m_warning;
};
