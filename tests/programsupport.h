#pragma once

// The programs as a user runs them: custdisp-sim as a separate process, and
// a helper to run a program to its end.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

// A custdisp-sim process; its first line is its device.
struct Sim {
    QProcess process;
    QString device;

    explicit Sim(const QStringList &args = {})
    {
        process.start(QStringLiteral(CUSTDISP_SIM), args);
        // At once, as a rule; a sanitized build on a loaded machine can take seconds.
        if (process.waitForReadyRead(30000))
            device = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Sim()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished();
        }
    }
    // Stops it and takes every line it printed after the device path. It
    // reads what the line still holds before it ends, so a message missing
    // from output() then was never written. False if it did not end.
    bool finish()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
        m_log += QString::fromLocal8Bit(process.readAllStandardOutput());
        return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit
               && process.exitCode() == 0;
    }
    // What it printed so far, without waiting.
    const QString &output() const { return m_log; }
    // Waits until what it printed holds `text`.
    bool waitFor(const QString &text, int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            m_log += QString::fromLocal8Bit(process.readAllStandardOutput());
            if (m_log.contains(text))
                return true;
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(50);
        }
    }

private:
    QString m_log;
};

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs `program` with `args` (and `env`, if given); a program that hangs
// counts as a failure.
inline Run runProgram(const QString &program, const QStringList &args, int timeoutMs,
                      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

#ifdef CUSTDISP_CLI
// Keeps what a `custdisp-cli --json` run printed for tst_jsonschema, which
// checks every document the tests make against docs/custdisp-cli.schema.json.
inline void keepJsonDocument(const QStringList &args, int exitCode, const QString &out)
{
    static int count = 0;
    const QString folder = QStringLiteral(CUSTDISP_JSON_DIR);
    QFile f(QStringLiteral("%1/%2-%3-%4.json")
                .arg(folder, QCoreApplication::applicationName())
                .arg(QCoreApplication::applicationPid())
                .arg(++count));
    const QJsonObject run{{QStringLiteral("args"), QJsonArray::fromStringList(args)},
                          {QStringLiteral("exit_code"), exitCode},
                          {QStringLiteral("stdout"), out}};
    if (!QDir().mkpath(folder) || !f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(run).toJson()) <= 0)
        qWarning("cannot keep a JSON document in %s", qPrintable(folder));
}

inline Run cli(const QStringList &args, int timeoutMs = 30000)
{
    const Run r = runProgram(QStringLiteral(CUSTDISP_CLI), args, timeoutMs);
    if (args.contains(QStringLiteral("--json")))
        keepJsonDocument(args, r.exitCode, r.out);
    return r;
}
#endif
