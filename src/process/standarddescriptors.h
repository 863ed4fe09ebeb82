#pragma once

// Makes sure the standard input, output and error descriptors are open, on
// the null device where they were closed. Called first thing in main: a
// program started with them closed would otherwise hand them out to the
// first files and pipes it opens, and its messages would land there (the
// stop-request pipe would read a progress line as Ctrl-C). False if one of
// them could not be opened.
[[nodiscard]] bool openStandardDescriptors();

// Whether what the program prints on standard output reaches someone: a
// file, a pipe or a console. A window program on Windows has no console of
// its own; started from one, it attaches to that console here and prints
// there. False only when there is none (started from Explorer): then only a
// message box would be seen.
[[nodiscard]] bool reachStandardOutput();
