// custdisp-cli: the window's three commands from a terminal, on the very same
// procedures, for scripted updates and for work over SSH. Three steps: the
// command line becomes a request, the request runs, the result is reported.
#include "cli/exitstatus.h"
#include "cli/commandline.h"
#include "cli/commandrun.h"
#include "isp/downloadoutcome.h"
#include "cli/livereport.h"
#include "cli/report.h"
#include "process/standarddescriptors.h"
#include "process/stoprequests.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    if (!openStandardDescriptors())
        return ExitCode::kFailure;
    StopRequests::holdFromNowOn();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("custdisp-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CUSTDISP_VERSION));

    QByteArrayList raw;
    for (int i = 0; i < argc; ++i)
        raw.append(QByteArray(argv[i]));
    const ParsedCommandLine parsed = parseCommandLine(QCoreApplication::arguments(), raw);
    if (const auto *answer = std::get_if<PlainAnswer>(&parsed)) {
        print({ReportLine{false, answer->text}});
        return ExitCode::kSuccess;
    }
    if (const auto *error = std::get_if<UsageError>(&parsed)) {
        print(usageLines(error->text));
        return ExitCode::kUsage;
    }
    const CliRequest &request = std::get<CliRequest>(parsed);
    LiveReport live(request.quiet);
    const RunResult result = runCommand(request, live);
    print(reportLines(request, result));
    return result.exitCode;
}
