#pragma once

// Whether standard error is a terminal (a progress bar then redraws its own
// line) rather than a log file or a pipe.
bool stderrIsTerminal();
