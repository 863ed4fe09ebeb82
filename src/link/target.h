#pragma once

#include "link/linesettings.h"

#include <QString>

#include <optional>

// Where a command goes, as a front end resolved it from the operator's
// choices (the window's port and speed, the command line's -p and -b) before
// anything is opened. Below the front ends nobody sees those choices.
struct Target {
    QString label;                     // as the operator names it: "Com 2", "/dev/ttyUSB0"
    QString device;                    // the device to open
    std::optional<LineSettings> line;  // nullopt: no usable line settings; never guessed
    QString unavailableText;           // "COM 2: not available.", shown when it cannot be opened

    // What follows the port's name in unavailableText.
    static inline const QString kNotAvailable = QStringLiteral("not available.");
    static QString unavailable(const QString &name) { return name + QStringLiteral(": ") + kNotAvailable; }
};
