#include "cli/portrun.h"

#include "cli/exitstatus.h"
#include "isp/downloadoutcome.h"
#include "cli/runevents.h"
#include "process/stoprequests.h"
#include "process/threadend.h"
#include "isp/firmwareimage.h"

#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <vector>

int PortRun::exitCode() const
{
    if (results.size() == 1)
        return results.constFirst().exitCode;
    if (std::all_of(results.cbegin(), results.cend(), [](const PortResult &r) { return r.exitCode == ExitCode::kSuccess; }))
        return ExitCode::kSuccess;
    return stopped ? ExitCode::of(DownloadOutcome::Cancelled) : ExitCode::kSomeFailed;
}

namespace {
// A thread's cleanup takes milliseconds; this only keeps a fault from hanging.
constexpr int kThreadEndLimitMs = 5000;
}  // namespace

PortRun runOnPorts(CliCommand command, const QList<Target> &targets, const std::array<quint8, 8> &packet,
                   std::shared_ptr<const FirmwareImage> image, bool trace, RunEvents &events, RecordUse recordUse)
{
    QStringList labels;
    for (const Target &t : targets)
        labels.append(t.label);
    events.starting(labels, image ? image->bytes.size() : 0);

    PortRun run;
    run.results.resize(targets.size());
    QEventLoop loop;
    qsizetype running = targets.size();
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<std::unique_ptr<PortJob>> jobs;
    std::vector<Qt::HANDLE> threadIds(size_t(targets.size()), nullptr);
    for (int i = 0; i < targets.size(); ++i) {
        auto job = std::make_unique<PortJob>(command, targets.at(i), packet, image, trace, targets.size() > 1, recordUse);
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(targets.at(i).label);
        job->moveToThread(thread.get());
        // Before the job runs, so it is kept before the job's result comes
        // back through the event queue, and read only after that.
        QObject::connect(
            thread.get(), &QThread::started, thread.get(),
            [&threadIds, i] { threadIds[size_t(i)] = QThread::currentThreadId(); }, Qt::DirectConnection);
        QObject::connect(thread.get(), &QThread::started, job.get(), &PortJob::run);
        // Received on this thread, between two steps of its own loop.
        QObject::connect(job.get(), &PortJob::progress, &loop,
                         [&events, i](int value, int maximum) { events.progress(i, value, maximum); });
        QObject::connect(job.get(), &PortJob::finished, &loop, [&, i](const PortResult &result) {
            run.results[i] = result;
            events.finished(i, result);
            if (--running == 0)
                loop.quit();
        });
        jobs.push_back(std::move(job));
        threads.push_back(std::move(thread));
    }

    // Ctrl-C stops every port at its next step; none reports success after it.
    StopRequests stop;
    QObject::connect(&stop, &StopRequests::requested, &loop, [&] {
        run.stopped = true;
        for (const auto &job : jobs)
            job->cancel();
    });

    for (const auto &thread : threads)
        thread->start();
    if (running > 0)
        loop.exec();
    for (size_t i = 0; i < threads.size(); ++i) {
        threads[i]->quit();
        // Past its cleanup too: a thread still in it would hang the program's exit.
        if (threadIds[i])
            waitForThreadEnd(threadIds[i], kThreadEndLimitMs);
        threads[i]->wait();
    }
    return run;
}
