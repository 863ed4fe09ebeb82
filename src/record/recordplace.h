#pragma once

#include <QString>

// Where this PC's display record lives. One implementation per platform.
namespace RecordPlace {

// The folder every user and program on the PC shares, made by the package
// (Linux: /var/lib/custdisp; Windows: %ProgramData%\custdisp, by the
// installer), whether or not it exists here.
QString sharedFolder();

// The user's own state folder, for when the shared one is missing or cannot
// be written (Linux: $XDG_STATE_HOME/custdisp).
QString userFolder();

}  // namespace RecordPlace
