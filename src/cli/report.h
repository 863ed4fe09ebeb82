#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct CliRequest;
struct RunResult;

// One piece of the report, for stdout or stderr, exactly as written.
struct ReportLine {
    bool toStderr = false;
    QString text;
};

// What the command line prints after a run, in order. With --json stdout
// gets the document alone; otherwise one port's message, the summary of
// several, the plan or the list of ports. Causes and notes go to stderr.
QList<ReportLine> reportLines(const CliRequest &request, const RunResult &result);

// A usage error: why, and where to read more.
QList<ReportLine> usageLines(const QString &why);

void print(const QList<ReportLine> &lines);
