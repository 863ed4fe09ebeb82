#include "cli/report.h"

#include "cli/exitstatus.h"
#include "cli/clirequest.h"
#include "isp/downloadoutcome.h"
#include "cli/jsonreport.h"
#include "cli/runresult.h"
#include "cli/terminal.h"
#include "cli/textreport.h"
#include "commands/displaycommands.h"

namespace {

ReportLine toStdout(const QString &text)
{
    return {false, text};
}

ReportLine toStderr(const QString &line)
{
    return {true, line + QLatin1Char('\n')};
}

// Without --json: one port's message, the summary of several, the plan, the
// ports there are, or why the image was refused.
QString plainText(const RunResult &result)
{
    if (result.listing)
        return listingText(*result.listing);
    if (result.dryRun)
        return planText(*result.image);
    if (result.image && !result.image->isReady())
        return result.image->message + QLatin1Char('\n');
    if (result.ports.size() > 1)
        return summaryTable(result.ports);
    if (result.ports.isEmpty() || result.ports.constFirst().message.isEmpty())
        return {};
    return result.ports.constFirst().message + QLatin1Char('\n');
}

QString sentText(const CliRequest &request)
{
    const QByteArray sent = request.command == CliCommand::Params
                                ? DisplayPacket::bytes(DisplayPacket::parameterPacket(request.settings.ParamPacket))
                                : DisplayPacket::bytes(DisplayPacket::versionQuery());
    return QStringLiteral("sent ") + QString::fromLatin1(sent.toHex(' '));
}

// For stderr after the run: why a port could not be opened, that a download
// was stopped, what a packet command sent.
QList<ReportLine> notes(const CliRequest &request, const RunResult &result)
{
    QList<ReportLine> lines;
    if (!result.failure.isEmpty())
        lines.append(toStderr(QStringLiteral("custdisp-cli: ") + result.failure));
    if (request.json && result.image && !result.image->isReady())
        lines.append(toStderr(result.image->message));  // stdout holds the document alone
    bool cancelled = false;
    bool succeeded = false;
    for (const PortResult &r : result.ports) {
        cancelled = cancelled || r.outcome == DownloadOutcome::Cancelled;
        succeeded = succeeded || outcomeRow(r.outcome).success;
        if (!r.cause.isEmpty())
            lines.append(toStderr(result.ports.size() > 1 ? portLine(r.port, r.cause) : r.cause));
        if (!r.recordWarning.isEmpty())
            lines.append(toStderr(QStringLiteral("custdisp-cli: warning: ") + r.recordWarning));
        if (r.outcome == DownloadOutcome::RecordUnwritable)
            lines.append(toStderr(r.message));
    }
    if (cancelled && request.command == CliCommand::Isp)
        lines.append(toStderr(QStringLiteral("cancelled: the display did not receive the whole image")));
    if (succeeded && !request.quiet && request.command != CliCommand::Isp)
        lines.append(toStderr(sentText(request)));
    return lines;
}

}  // namespace

QList<ReportLine> reportLines(const CliRequest &request, const RunResult &result)
{
    if (!result.usageError.isEmpty())
        return usageLines(result.usageError);
    QList<ReportLine> lines;
    // A usage error prints no document: nothing was run.
    if (result.exitCode != ExitCode::kUsage)
        lines.append(request.json ? ReportLine{false, QString::fromUtf8(jsonDocument(result))} : toStdout(plainText(result)));
    return lines + notes(request, result);
}

QList<ReportLine> usageLines(const QString &why)
{
    return {toStderr(QStringLiteral("custdisp-cli: ") + why), toStderr(QStringLiteral("Try 'custdisp-cli --help'."))};
}

void print(const QList<ReportLine> &lines)
{
    for (const ReportLine &line : lines) {
        writeText(line.toStderr ? stderr : stdout, line.text);
    }
}
