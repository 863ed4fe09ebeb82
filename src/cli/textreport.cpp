#include "cli/textreport.h"

#include "cli/imagefacts.h"
#include "cli/runresult.h"
#include "isp/ispframes.h"
#include "link/openfailure.h"

#include <QStringList>

QString summaryTable(const QList<PortResult> &results)
{
    const QStringList head{QStringLiteral("port"), QStringLiteral("device"), QStringLiteral("outcome"),
                           QStringLiteral("frames"), QStringLiteral("attempts"), QStringLiteral("seconds")};
    QList<QStringList> rows{head};
    for (const PortResult &r : results) {
        const QString frames = r.frames > 0 ? QStringLiteral("%1/%2").arg(r.framesSent).arg(r.frames) : QStringLiteral("-");
        rows.append({r.port, r.device, r.outcomeText(), frames,
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

QString planText(const ImageFacts &facts)
{
    if (!facts.size || facts.refused == DownloadOutcome::ImageEmpty)
        return facts.message + QLatin1Char('\n');
    // The name stays out of the .arg() chain: a "%1" in it must stay as it is.
    QString text = QStringLiteral("image: ") + facts.name
                   + QStringLiteral("\nsize: %1 bytes (at most %2)\ndata frames: %3\n"
                                    "first address: %4\nlast frame: %5..%6\nfits: %7\n")
                         .arg(*facts.size)
                         .arg(Isp::kMaxImageSize)
                         .arg(facts.frames)
                         .arg(facts.firstAddress)
                         .arg(facts.lastAddress - Isp::kBlockSize + 1)
                         .arg(facts.lastAddress)
                         .arg(facts.isReady() ? QStringLiteral("yes") : QStringLiteral("no"));
    if (!facts.isReady())
        text += facts.message + QLatin1Char('\n');
    return text;
}

QString listingText(const PortListing &listing)
{
    QString text;
    if (listing.found.isEmpty())
        text += QStringLiteral("no serial ports found\n");
    for (const FoundPort &p : listing.found)
        text += QStringList{p.device, p.description, p.manufacturer, p.ids, p.serialNumber}.join(QLatin1Char('\t'))
                + QLatin1Char('\n');
    for (const PortListing::Entry &e : listing.map)
        text += QStringLiteral("Com %1 -> %2, %3\n    %4\n")
                    .arg(QString::number(e.number), deviceNames(e.device, e.realDevice),
                         e.saved ? QStringLiteral("saved") : QStringLiteral("default"),
                         e.record ? e.record->text() : QStringLiteral("nothing recorded"));
    text += QStringLiteral("display record: %1\n").arg(listing.recordFile);
    return text;
}
