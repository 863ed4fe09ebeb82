#pragma once

// Makes sure the standard input, output and error descriptors are open, on
// the null device where they were closed. Called first thing in main: a
// program started with them closed would otherwise hand them out to the
// first files and pipes it opens, and its messages would land there (the
// stop-request pipe would read a progress line as Ctrl-C). False if one of
// them could not be opened.
[[nodiscard]] bool openStandardDescriptors();
