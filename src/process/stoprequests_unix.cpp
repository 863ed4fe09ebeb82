#include "process/stoprequests.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler may do next to nothing: it writes one byte into a pipe,
// which the event loop then reads.
int g_pipe[2] = {-1, -1};

// Ctrl-C, Ctrl-\ (quit), kill, and a terminal or SSH session that hangs up: each
// would otherwise end the program between two bytes of a frame.
constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
}

}  // namespace

void StopRequests::holdFromNowOn()
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : kStopSignals) {
        // What the caller chose to ignore stays ignored: `nohup` keeps a
        // download through a hang-up, and a shell's `cmd &` through Ctrl-C.
        struct sigaction inherited {};
        if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(signal, &action, nullptr) == 0)
            sigaddset(&handled, signal);
    }
    // A caller may have blocked them (a launcher's worker thread): a stop
    // would then never reach the download. One already sent arrives now.
    ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
    // A reader that went away (a pager quit, `| head`) must not kill a
    // download half way: the write fails instead, and the download goes on.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

StopRequests::StopRequests(QObject *parent) : QObject(parent)
{
    holdFromNowOn();
    if (g_pipe[0] < 0)
        return;
    // A request held in the pipe from before makes it readable at once.
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char c;
        while (::read(g_pipe[0], &c, 1) > 0) {
        }
        Q_EMIT requested();
    });
    m_listening = true;
}

// The handlers stay: a request after the last listener is held, never fatal.
StopRequests::~StopRequests() = default;
