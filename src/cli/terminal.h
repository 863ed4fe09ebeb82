#pragma once

#include <QString>

#include <cstdio>

// Whether standard error is a terminal (a progress bar then redraws its own
// line) rather than a log file or a pipe.
bool stderrIsTerminal();

// Writes `text` to `stream` (stdout or stderr) so that its reader sees every
// character: a Windows console gets wide characters, since its code page
// cannot show every name; a file, a pipe or a Unix terminal gets UTF-8.
// Flushed at once, so the two streams keep their order.
void writeText(std::FILE *stream, const QString &text);
