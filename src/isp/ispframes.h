#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The in-system-programming messages, byte for byte. Pure builders.
namespace Isp {

constexpr qsizetype kFrameSize = 192;       // every erase, data and end frame
constexpr qsizetype kBlockSize = 184;       // image bytes carried by one data frame
constexpr qsizetype kDataOffset = 5;        // first image byte in a data frame
constexpr qsizetype kChecksumOffset = 189;  // XOR of offsets 1..188
constexpr quint8 kTypeErase = 0x00;
constexpr quint8 kTypeData = 0x01;
constexpr quint8 kTypeEnd = 0x05;
constexpr quint8 kTrailer1 = 0x55;  // offsets 190, 191 of a data frame
constexpr quint8 kTrailer2 = 0xAA;

// 16-bit addresses: the last start address that fits is 65320 (end 0xFFDF),
// the 356th data frame. One frame more than whole blocks is always sent, so
// an image of 65503 bytes is the largest whose frames all fit.
constexpr int kMaxDataFrames = int((0xFFFF - (kBlockSize - 1)) / kBlockSize) + 1;
constexpr qsizetype kMaxImageSize = kMaxDataFrames * kBlockSize - 1;
static_assert(kMaxDataFrames == 356 && kMaxImageSize == 65503);

// The display's one-byte answers.
constexpr quint8 kAccessAccepted = 0x07;  // to the access command
constexpr quint8 kWrongVersion = 0x1B;    // to the access command: not this firmware's display
constexpr quint8 kFrameAccepted = 0xAA;   // to the erase frame and each data frame

// 04 01 84 84 17
QByteArray accessCommand();
// 192 zero bytes.
QByteArray eraseFrame();
// 0x05 and 191 zero bytes.
QByteArray endFrame();
// Type, start address (high, low), end address start+183 (low, high), the
// block padded with zeros to 184 bytes, checksum, 55 AA. `block` holds at
// most 184 bytes; `start` is at most 65320.
QByteArray dataFrame(quint16 start, QByteArrayView block);

// How many data frames an image of `size` bytes takes: whole blocks plus one,
// also for an empty image and for an exact multiple of 184.
int dataFrameCount(qsizetype size);

}  // namespace Isp
