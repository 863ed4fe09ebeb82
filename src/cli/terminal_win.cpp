#include "cli/terminal.h"

#include <cstdio>
#include <io.h>

bool stderrIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}
