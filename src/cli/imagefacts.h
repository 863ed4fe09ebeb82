#pragma once

#include "isp/downloadoutcome.h"

#include <QString>

#include <optional>

struct FirmwareImage;

// What the operator and a script are told about the image: read once, before
// any port is touched, by the very reading the download uses, so the dry run
// and the download come to one verdict.
struct ImageFacts {
    QString name;
    std::optional<DownloadOutcome> refused;  // none: ready
    QString message;                         // the refusal the terminal shows; empty when ready
    // Bytes read (for an image too large, the file's size); none when the
    // file could not be read.
    std::optional<qint64> size;
    QString sha256;  // of the bytes read, when ready or empty
    int frames = 0;
    qint64 firstAddress = 0;
    qint64 lastAddress = 0;  // where the last data frame ends

    bool isReady() const { return !refused; }
    // "ready", or the refusal's outcome word.
    QString word() const { return refused ? outcomeWord(*refused) : QStringLiteral("ready"); }
    int exitCode() const;

    static ImageFacts of(const FirmwareImage &image);
};
