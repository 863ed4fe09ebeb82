#pragma once

#include "isp/downloadoutcome.h"

#include <QByteArray>
#include <QString>

#include "isp/imagepath.h"

// The image as read for a download or a dry run: both read it the same way,
// so both come to the same verdict.
struct FirmwareImage {
    enum class Verdict {
        Ready,
        Unreadable,  // missing, no permission, or not a regular file
        Empty,       // nothing to send: erasing the display for it would brick it
        TooLarge,    // later frames' 16-bit addresses would wrap
    };

    ImagePath path;
    Verdict verdict = Verdict::Unreadable;
    qint64 fileSize = 0;
    QByteArray bytes;  // the whole image when Ready

    // Reads the whole image at once: every frame then comes from one snapshot
    // even if the file changes meanwhile, and the file is released at once.
    static FirmwareImage read(const ImagePath &path);

    int frameCount() const;
    // What the operator is told when the image is refused; empty when Ready.
    QString refusal() const;
};

// How a download ends for an image refused before any port is touched.
DownloadOutcome outcomeOfRefusal(FirmwareImage::Verdict verdict);

// "Cann't Open File 'x.bin'!"
QString fileUnreadableText(const QString &name);
