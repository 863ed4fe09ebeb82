#include "cli/severalports.h"

#include "cli/exitcodes.h"
#include "cli/jsonreport.h"
#include "cli/progressboard.h"
#include "cli/runresult.h"
#include "cli/stoprequests.h"
#include "cli/terminal.h"
#include "cli/textreport.h"

#include <QEventLoop>
#include <QThread>

#include <cstdio>
#include <vector>

int runOnSeveralPorts(const QString &commandName, PortJob::Command command, const QList<PortTarget> &targets,
                      std::shared_ptr<const FirmwareImage> image, SeveralPortsOptions options)
{
    QStringList labels;
    for (const PortTarget &t : targets)
        labels.append(t.label);
    ProgressBoard board(labels, stderrIsTerminal(), options.quiet);
    QList<PortResult> results(targets.size());

    QEventLoop loop;
    qsizetype running = targets.size();
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (int i = 0; i < targets.size(); ++i) {
        auto job = std::make_unique<PortJob>(command, targets.at(i), image, options.trace);
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(targets.at(i).label);
        job->moveToThread(thread.get());
        QObject::connect(thread.get(), &QThread::started, job.get(), &PortJob::run);
        // Received on this thread, between two steps of its own loop.
        QObject::connect(job.get(), &PortJob::progress, &loop,
                         [&board, i](int value, int maximum) { board.update(i, value, maximum); });
        QObject::connect(job.get(), &PortJob::finished, &loop, [&, i](const PortResult &result) {
            results[i] = result;
            board.finish(i, result);
            if (--running == 0)
                loop.quit();
        });
        jobs.push_back(std::move(job));
        threads.push_back(std::move(thread));
    }

    // Ctrl-C stops every port at its next step; none reports success after it.
    bool stopped = false;
    StopRequests stop;
    QObject::connect(&stop, &StopRequests::requested, &loop, [&] {
        stopped = true;
        for (const auto &job : jobs)
            job->cancel();
    });

    for (const auto &thread : threads)
        thread->start();
    if (running > 0)
        loop.exec();
    for (const auto &thread : threads) {
        thread->quit();
        thread->wait();
    }
    jobs.clear();  // their threads have ended
    board.end();

    bool allSucceeded = true;
    for (const PortResult &r : results) {
        if (r.exitCode != ExitCode::kSuccess)
            allSucceeded = false;
        if (!r.cause.isEmpty() && !options.json)
            std::fprintf(stderr, "%s: %s\n", qPrintable(r.port), qPrintable(r.cause));
    }
    const int exitCode = allSucceeded ? ExitCode::kSuccess : stopped ? ExitCode::kCancelled : ExitCode::kSomeFailed;
    if (options.json) {
        RunResult run{commandName, false, std::nullopt, results, std::nullopt, QString(), exitCode};
        if (image)
            run.image = ImageFacts::of(*image);
        std::fputs(jsonDocument(run).constData(), stdout);
    } else
        std::fputs(qPrintable(summaryTable(results)), stdout);
    std::fflush(stdout);
    return exitCode;
}
