#include "cli/imagefacts.h"

#include "cli/exitstatus.h"
#include "isp/downloadoutcome.h"
#include "cli/portresult.h"
#include "isp/firmwareimage.h"
#include "isp/ispframes.h"

#include <QCryptographicHash>

int ImageFacts::exitCode() const
{
    return refused ? ExitCode::of(*refused) : ExitCode::kSuccess;
}

ImageFacts ImageFacts::of(const FirmwareImage &image)
{
    ImageFacts facts;
    facts.name = image.path.shown;
    facts.message = image.refusal();
    if (image.verdict != FirmwareImage::Verdict::Ready)
        facts.refused = outcomeOfRefusal(image.verdict);
    if (image.verdict == FirmwareImage::Verdict::Unreadable)
        return facts;
    // The plan follows the bytes read, not what the file system reports.
    const qint64 size = image.verdict == FirmwareImage::Verdict::TooLarge ? image.fileSize : image.bytes.size();
    facts.size = size;
    if (image.verdict != FirmwareImage::Verdict::TooLarge)  // only its head was read
        facts.sha256 = QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex());
    facts.frames = Isp::dataFrameCount(size);
    facts.lastAddress = qint64(facts.frames) * Isp::kBlockSize - 1;
    return facts;
}
