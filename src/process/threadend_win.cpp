#include "process/threadend.h"

#include <windows.h>

void waitForThreadEnd(Qt::HANDLE id, int timeoutMs)
{
    // The id stays the thread's while its QThread keeps a handle to it, so
    // it names no other thread here.
    const HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, DWORD(reinterpret_cast<quintptr>(id)));
    if (!thread)
        return;  // already gone
    ::WaitForSingleObject(thread, DWORD(timeoutMs));
    ::CloseHandle(thread);
}
