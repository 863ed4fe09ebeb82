#pragma once

#include <QString>

// Examples and notes in prompts and help, in the platform's own terms: a
// Windows user names ports COM5, a Linux user /dev/ttyUSB0.
namespace PlatformWords {

// A device as people here would name the one in an example.
QString exampleDevice();

// How a device is named here, with that example: "a device path such as
// /dev/ttyUSB0".
QString deviceKind();

// Where the simulated display works, to follow what --simulate does; empty
// where it does.
QString simulatorNote();

}  // namespace PlatformWords
