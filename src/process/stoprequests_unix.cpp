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

StopRequests::StopRequests(QObject *parent) : QObject(parent)
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char c;
        while (::read(g_pipe[0], &c, 1) > 0) {
        }
        Q_EMIT requested();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    m_listening = true;
    for (int signal : kStopSignals)
        m_listening = ::sigaction(signal, &action, nullptr) == 0 && m_listening;
    // A reader that went away (a pager quit, `| head`) must not kill a
    // download half way: the write fails instead, and the download goes on.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

StopRequests::~StopRequests()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int signal : kStopSignals)
        ::sigaction(signal, &action, nullptr);
    for (int &fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
