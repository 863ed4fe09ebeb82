#pragma once

#include <Qt>

// Waits until the system's thread `id` (QThread::currentThreadId() inside
// it) has wholly ended, its thread-exit cleanup included, or `timeoutMs` has
// passed. QThread::wait() returns once the thread's own work is over, before
// that cleanup; on Windows the C runtime's thread-local destructors then still
// run under its lock of thread-local keys, and ending the process kills the
// thread there: the lock is never released and the exit waits for it for
// ever. Elsewhere ending a process never waits for another thread, so this
// returns at once.
void waitForThreadEnd(Qt::HANDLE id, int timeoutMs);
