#include "cli/portresult.h"

#include "isp/firmwareimage.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

QString outcomeWord(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Completed: return QStringLiteral("completed");
    case DownloadOutcome::DialogCancelled: return QStringLiteral("no-file-chosen");
    case DownloadOutcome::FileUnreadable: return QStringLiteral("file-unreadable");
    case DownloadOutcome::ImageEmpty: return QStringLiteral("image-empty");
    case DownloadOutcome::ImageTooLarge: return QStringLiteral("image-too-large");
    case DownloadOutcome::PortUnavailable: return QStringLiteral("port-unavailable");
    case DownloadOutcome::AccessTimeout: return QStringLiteral("access-timeout");
    case DownloadOutcome::WrongVersion: return QStringLiteral("wrong-version");
    case DownloadOutcome::AccessRefused: return QStringLiteral("access-refused");
    case DownloadOutcome::EraseFailed: return QStringLiteral("erase-failed");
    case DownloadOutcome::DataFrameFailed: return QStringLiteral("data-frame-failed");
    case DownloadOutcome::Cancelled: return QStringLiteral("cancelled");
    }
    return QStringLiteral("failed");
}

QString summaryTable(const QList<PortResult> &results)
{
    const QStringList head{QStringLiteral("port"), QStringLiteral("device"), QStringLiteral("outcome"),
                           QStringLiteral("frames"), QStringLiteral("attempts"), QStringLiteral("seconds")};
    QList<QStringList> rows{head};
    for (const PortResult &r : results) {
        const QString frames = r.frames > 0 ? QStringLiteral("%1/%2").arg(r.framesSent).arg(r.frames) : QStringLiteral("-");
        rows.append({r.port, r.device, r.message.isEmpty() ? r.outcome : r.message, frames,
                     QString::number(r.attempts()), QString::number(r.seconds, 'f', 1)});
    }
    QList<qsizetype> widths(head.size(), 0);
    for (const QStringList &row : rows) {
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = qMax(widths[c], row.at(c).size());
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row.at(c).leftJustified(widths[c] + 2) : row.at(c);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QByteArray jsonReport(const QString &command, const FirmwareImage *image, const QList<PortResult> &results,
                      int exitCode)
{
    QJsonObject report{{QStringLiteral("command"), command}, {QStringLiteral("exit_code"), exitCode}};
    if (image) {
        report.insert(QStringLiteral("image"),
                      QJsonObject{{QStringLiteral("name"), image->path.shown},
                                  {QStringLiteral("size"), qint64(image->bytes.size())},
                                  {QStringLiteral("sha256"),
                                   QString::fromLatin1(QCryptographicHash::hash(image->bytes, QCryptographicHash::Sha256).toHex())},
                                  {QStringLiteral("frames"), image->frameCount()}});
    }
    QJsonArray ports;
    for (const PortResult &r : results) {
        QJsonObject port{{QStringLiteral("port"), r.port},
                         {QStringLiteral("device"), r.device},
                         {QStringLiteral("outcome"), r.outcome},
                         {QStringLiteral("message"), r.message},
                         {QStringLiteral("exit_code"), r.exitCode},
                         {QStringLiteral("frames_sent"), r.framesSent},
                         {QStringLiteral("retries"), r.retries},
                         {QStringLiteral("seconds"), qRound(r.seconds * 1000) / 1000.0}};
        if (!r.cause.isEmpty())
            port.insert(QStringLiteral("cause"), r.cause);
        ports.append(port);
    }
    report.insert(QStringLiteral("ports"), ports);
    return QJsonDocument(report).toJson(QJsonDocument::Indented);
}
