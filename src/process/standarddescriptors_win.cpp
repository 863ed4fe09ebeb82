#include "process/standarddescriptors.h"

#include <cstdio>
#include <windows.h>

// The C runtime keeps descriptors 0 to 2 for the standard streams even in a
// program without a console, and never hands them out for another file; stop
// requests come through the console's handler, not a pipe.
bool openStandardDescriptors()
{
    return true;
}

bool reachStandardOutput()
{
    // Redirected to a file or a pipe, or a console program's own console.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN)
        return true;
    // A window program started from a Command Prompt or PowerShell: their
    // console. The C runtime set its streams up without one.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return false;
    return ::_wfreopen(L"CONOUT$", L"w", stdout) != nullptr;
}
