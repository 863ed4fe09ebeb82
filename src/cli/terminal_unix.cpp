#include "cli/terminal.h"

#include <unistd.h>

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}
