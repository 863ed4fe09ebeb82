#include "cli/portrun.h"

#include "cli/exitstatus.h"
#include "isp/downloadoutcome.h"
#include "cli/runevents.h"
#include "process/stoprequests.h"
#include "isp/firmwareimage.h"
#include "record/recordkeeper.h"

#include <QEventLoop>

#include <algorithm>
#include <vector>

int PortRun::exitCode() const
{
    if (results.size() == 1)
        return results.constFirst().exitCode();
    if (std::all_of(results.cbegin(), results.cend(), [](const PortResult &r) { return outcomeRow(r.outcome).success; }))
        return ExitCode::kSuccess;
    return stopped ? ExitCode::of(DownloadOutcome::Cancelled) : ExitCode::kSomeFailed;
}


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
    // Every port on this one event loop: each download only reacts to its
    // line's and its timer's events, and one loop keeps the slowest judgement
    // of 64 ports at a quarter of a thread each's under load (bench/latency.sh).
    // Declared before the jobs: it outlives them, and what they asked it to
    // save is on disk before this returns.
    RecordKeeper records;
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (int i = 0; i < targets.size(); ++i) {
        auto job = std::make_unique<PortJob>(command, targets.at(i), packet, image, trace, targets.size() > 1, records,
                                             recordUse);
        QObject::connect(job.get(), &PortJob::progress, &loop,
                         [&events, i](int value, int maximum) { events.progress(i, value, maximum); });
        QObject::connect(job.get(), &PortJob::finished, &loop, [&, i](const PortResult &result) {
            run.results[i] = result;
            events.finished(i, result);
            if (--running == 0)
                loop.quit();
        });
        jobs.push_back(std::move(job));
    }

    // Ctrl-C stops every port at its next step; none reports success after it.
    StopRequests stop;
    QObject::connect(&stop, &StopRequests::requested, &loop, [&] {
        run.stopped = true;
        for (const auto &job : jobs)
            job->cancel();
    });

    // From the loop, so that a stop already held is seen before any port starts.
    for (const auto &job : jobs)
        QMetaObject::invokeMethod(job.get(), &PortJob::run, Qt::QueuedConnection);
    if (running > 0)
        loop.exec();
    return run;
}
