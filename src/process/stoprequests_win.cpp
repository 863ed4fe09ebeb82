#include "process/stoprequests.h"

#include <QMetaObject>

#include <atomic>
#include <windows.h>

namespace {

std::atomic<StopRequests *> g_listener{nullptr};
std::atomic<bool> g_finished{false};
std::atomic<bool> g_held{false};  // a request that came while nobody listened
std::atomic<bool> g_installed{false};

// Runs on a thread of the console's: queue the request to the main thread.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    StopRequests *listener = g_listener.load();
    if (!listener) {
        g_held = true;
        return TRUE;
    }
    QMetaObject::invokeMethod(listener, &StopRequests::requested, Qt::QueuedConnection);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process when this returns: give the download a
        // moment to stop and release the port first.
        for (int i = 0; i < 40 && !g_finished.load(); ++i)
            ::Sleep(100);
    }
    return TRUE;
}

}  // namespace

void StopRequests::holdFromNowOn()
{
    if (!g_installed.exchange(true))
        ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopRequests::StopRequests(QObject *parent) : QObject(parent)
{
    holdFromNowOn();
    g_finished = false;
    g_listener = this;
    m_listening = true;
    if (g_held.exchange(false))
        QMetaObject::invokeMethod(this, &StopRequests::requested, Qt::QueuedConnection);
}

// The handler stays: a request after the last listener is held, never fatal.
StopRequests::~StopRequests()
{
    g_listener = nullptr;
    g_finished = true;
}
