#pragma once

#include "isp/downloadoutcome.h"
#include "record/displayrecord.h"

#include <QString>

#include <optional>

struct FirmwareImage;

// What a download writes in the display record, the same for every front
// end: "under way: contents unknown" before anything is written to the port,
// so a program killed in the middle leaves the truth behind, and what the
// display holds once it has ended. Pure: the procedure writes them.
namespace DownloadRecord {

// The key a device is kept by: its real device and its by-id name.
DisplayKey keyOf(const QString &device);

// `device`'s display is being written with `image` by `program`.
DisplayEntry underWay(const DisplayKey &key, const FirmwareImage &image, const QString &program);

// The entry once the download ended with `outcome`. Completed: the display
// holds the image. Nothing reached the display (`touched` false) or no erase
// command went out (port unavailable, access refused or timed out, wrong
// version): the display is untouched and the `earlier` entry comes back.
// Any other end: "did not complete".
std::optional<DisplayEntry> afterwards(const DisplayEntry &underWay, const std::optional<DisplayEntry> &earlier,
                                       DownloadOutcome outcome, int framesSent, bool touched);

}  // namespace DownloadRecord
