#include "process/stoprequests.h"

#include <QMetaObject>

#include <atomic>
#include <windows.h>

namespace {

std::atomic<StopRequests *> g_listener{nullptr};
std::atomic<bool> g_finished{false};

// Runs on a thread of the console's: queue the request to the main thread.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    StopRequests *listener = g_listener.load();
    if (!listener)
        return FALSE;
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

StopRequests::StopRequests(QObject *parent) : QObject(parent)
{
    g_finished = false;
    g_listener = this;
    m_listening = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

StopRequests::~StopRequests()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    g_listener = nullptr;
    g_finished = true;
}
