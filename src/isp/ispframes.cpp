#include "isp/ispframes.h"

namespace Isp {

QByteArray accessCommand()
{
    static constexpr char kBytes[] = {0x04, 0x01, char(0x84), char(0x84), 0x17};
    return QByteArray(kBytes, sizeof kBytes);
}

QByteArray eraseFrame()
{
    return QByteArray(kFrameSize, char(kTypeErase));
}

QByteArray endFrame()
{
    QByteArray frame(kFrameSize, '\0');
    frame[0] = char(kTypeEnd);
    return frame;
}

QByteArray dataFrame(quint16 start, QByteArrayView block)
{
    Q_ASSERT(block.size() <= kBlockSize);
    const quint16 end = quint16(start + kBlockSize - 1);
    QByteArray frame(kFrameSize, '\0');
    frame[0] = char(kTypeData);
    frame[1] = char(start >> 8);  // start address: high byte first
    frame[2] = char(start & 0xFF);
    frame[3] = char(end & 0xFF);  // end address: low byte first
    frame[4] = char(end >> 8);
    std::copy(block.begin(), block.begin() + qMin(block.size(), kBlockSize),
              frame.begin() + kDataOffset);
    quint8 checksum = 0;
    for (qsizetype i = 1; i < kChecksumOffset; ++i)
        checksum ^= quint8(frame[i]);
    frame[kChecksumOffset] = char(checksum);
    frame[190] = char(kTrailer1);
    frame[191] = char(kTrailer2);
    return frame;
}

int dataFrameCount(qsizetype size)
{
    return int(size / kBlockSize) + 1;
}

}  // namespace Isp
