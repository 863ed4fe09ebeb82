#include "isp/firmwareimage.h"

#include "isp/ispframes.h"
#include "isp/regularfile.h"

FirmwareImage FirmwareImage::read(const ImagePath &path)
{
    FirmwareImage image;
    image.path = path;
    // One byte past the limit tells an oversized file from the largest one.
    const std::optional<RegularFileHead> head = readRegularFile(path, Isp::kMaxImageSize + 1);
    if (!head)
        return image;
    image.fileSize = qMax(head->size, qint64(head->bytes.size()));
    if (head->bytes.isEmpty())
        image.verdict = Verdict::Empty;
    else if (head->bytes.size() > Isp::kMaxImageSize)
        image.verdict = Verdict::TooLarge;
    else {
        image.verdict = Verdict::Ready;
        image.bytes = head->bytes;
    }
    return image;
}

int FirmwareImage::frameCount() const
{
    return Isp::dataFrameCount(bytes.size());
}

QString FirmwareImage::refusal() const
{
    switch (verdict) {
    case Verdict::Ready:
        return {};
    case Verdict::Unreadable:
        return fileUnreadableText(path.shown);
    case Verdict::Empty:
        return QStringLiteral("File '%1' is empty; there is nothing to send.").arg(path.shown);
    case Verdict::TooLarge:
        // One .arg() for all: a "%2" in the name must stay as it is.
        return QStringLiteral("File '%1' has %2 bytes; at most %3 bytes fit the display.")
            .arg(path.shown, QString::number(fileSize), QString::number(Isp::kMaxImageSize));
    }
    return {};
}

// "Cann't" is the display tool's own word, kept exactly as operators know it.
QString fileUnreadableText(const QString &name)
{
    return QStringLiteral("Cann't Open File '") + name + QStringLiteral("'!");
}

DownloadOutcome outcomeOfRefusal(FirmwareImage::Verdict verdict)
{
    switch (verdict) {
    case FirmwareImage::Verdict::Empty: return DownloadOutcome::ImageEmpty;
    case FirmwareImage::Verdict::TooLarge: return DownloadOutcome::ImageTooLarge;
    case FirmwareImage::Verdict::Unreadable:
    case FirmwareImage::Verdict::Ready:  // not a refusal: never asked
        break;
    }
    return DownloadOutcome::FileUnreadable;
}
