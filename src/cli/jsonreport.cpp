#include "cli/jsonreport.h"

#include "cli/runresult.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject imageObject(const ImageFacts &image)
{
    QJsonObject o{{QStringLiteral("name"), image.name},
                  {QStringLiteral("outcome"), image.word()},
                  {QStringLiteral("message"), image.message}};
    if (!image.size)
        return o;
    o.insert(QStringLiteral("size"), *image.size);
    if (!image.sha256.isEmpty())
        o.insert(QStringLiteral("sha256"), image.sha256);
    o.insert(QStringLiteral("frames"), image.frames);
    o.insert(QStringLiteral("first_address"), image.firstAddress);
    o.insert(QStringLiteral("last_address"), image.lastAddress);
    return o;
}

// An entry of the display record as scripts read it: the stored fields and
// the technician's line.
QJsonValue recordValue(const std::optional<DisplayEntry> &entry)
{
    if (!entry)
        return QJsonValue::Null;
    QJsonObject o = entry->toJson();
    o.insert(QStringLiteral("text"), entry->text());
    return o;
}

QJsonArray portArray(const QList<PortResult> &results)
{
    QJsonArray ports;
    for (const PortResult &r : results) {
        QJsonObject port{{QStringLiteral("port"), r.port},
                         {QStringLiteral("device"), r.device},
                         {QStringLiteral("outcome"), r.word()},
                         {QStringLiteral("message"), r.message},
                         {QStringLiteral("exit_code"), r.exitCode()},
                         {QStringLiteral("frames_sent"), r.framesSent},
                         {QStringLiteral("retries"), r.retries},
                         {QStringLiteral("seconds"), qRound(r.seconds * 1000) / 1000.0}};
        if (!r.cause.isEmpty())
            port.insert(QStringLiteral("cause"), r.cause);
        if (r.record || !r.recordWarning.isEmpty())
            port.insert(QStringLiteral("record"), recordValue(r.record));
        if (!r.recordWarning.isEmpty())
            port.insert(QStringLiteral("record_warning"), r.recordWarning);
        ports.append(port);
    }
    return ports;
}

void insertListing(QJsonObject &report, const PortListing &listing)
{
    QJsonArray found;
    for (const FoundPort &p : listing.found)
        found.append(QJsonObject{{QStringLiteral("device"), p.device},
                                 {QStringLiteral("description"), p.description},
                                 {QStringLiteral("manufacturer"), p.manufacturer},
                                 {QStringLiteral("vendor_product"), p.ids},
                                 {QStringLiteral("serial_number"), p.serialNumber}});
    QJsonArray map;
    for (const PortListing::Entry &e : listing.map)
        map.append(QJsonObject{{QStringLiteral("number"), e.number},
                               {QStringLiteral("device"), e.device},
                               {QStringLiteral("real_device"), e.realDevice},
                               {QStringLiteral("source"), e.saved ? QStringLiteral("saved") : QStringLiteral("default")},
                               {QStringLiteral("record"), recordValue(e.record)}});
    // Whoever decides from the listing learns which custdisp-cli made it in the same run.
    report.insert(QStringLiteral("version"), QStringLiteral(CUSTDISP_VERSION));
    report.insert(QStringLiteral("found"), found);
    report.insert(QStringLiteral("map"), map);
    report.insert(QStringLiteral("record_file"), listing.recordFile);
    QJsonArray records;
    for (const DisplayEntry &e : listing.records)
        records.append(recordValue(e));
    report.insert(QStringLiteral("records"), records);
    // A script that decides from the records must be able to say what they left out.
    if (!listing.recordWarning.isEmpty())
        report.insert(QStringLiteral("record_warning"), listing.recordWarning);
}

}  // namespace

QByteArray jsonDocument(const RunResult &result)
{
    QJsonObject report{{QStringLiteral("schema_version"), kJsonSchemaVersion},
                       {QStringLiteral("command"), result.command},
                       {QStringLiteral("exit_code"), result.exitCode}};
    if (result.listing) {
        insertListing(report, *result.listing);
    } else if (!result.failure.isEmpty()) {
        report.insert(QStringLiteral("message"), result.failure);
    } else {
        if (result.image) {
            report.insert(QStringLiteral("dry_run"), result.dryRun);
            report.insert(QStringLiteral("image"), imageObject(*result.image));
        }
        report.insert(QStringLiteral("ports"), portArray(result.ports));
    }
    return QJsonDocument(report).toJson(QJsonDocument::Indented);
}
