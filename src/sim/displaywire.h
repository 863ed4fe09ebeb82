#pragma once

#include <QByteArray>
#include <QtGlobal>

// The display's side of the wire: how the messages it hears are laid out and
// the bytes it answers, as the display itself knows them. Written apart from
// the tool's builders, so that the simulated display catches their mistakes
// instead of sharing them; nothing else in the simulator spells a byte out.
namespace DisplayWire {

// Packets: start byte, command, data, end byte, XOR of every byte before it.
constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kSetParameters = 0x01;       // command of the parameter packet
constexpr char kQueryVersion = char(0x80);  // command of the version query
inline const QByteArray kVersionQuery = QByteArray::fromHex("02800381");

// The parameter packet: STX, command, four parameter codes, ETX, check byte.
constexpr qsizetype kPacketLength = 8;
constexpr qsizetype kBaudCodeAt = 2;
constexpr qsizetype kLanguageAt = 3;
constexpr qsizetype kCodeTableAt = 4;
constexpr qsizetype kEmulationAt = 5;
constexpr qsizetype kPacketEtxAt = 6;
constexpr qsizetype kPacketCheckAt = 7;  // XOR of the bytes before it

// Firmware mode: the access command, then frames of one size until the end frame.
inline const QByteArray kAccessCommand = QByteArray::fromHex("0401848417");
constexpr qsizetype kFrameLength = 192;
constexpr char kEraseType = 0x00;  // first byte of each frame; the rest of an erase frame is zeros
constexpr char kDataType = 0x01;
constexpr char kEndType = 0x05;  // ... and of an end frame

// A data frame: type, start address (high, low), end address (low, high),
// one block of the image, checksum, trailer.
constexpr qsizetype kStartAt = 1;
constexpr qsizetype kEndAt = 3;
constexpr qsizetype kBlockAt = 5;
constexpr qsizetype kBlock = 184;       // image bytes a data frame carries
constexpr qsizetype kChecksumAt = 189;  // XOR of the bytes from kStartAt up to it
constexpr qsizetype kTrailerAt = 190;
constexpr quint8 kTrailer1 = 0x55;
constexpr quint8 kTrailer2 = 0xAA;
// Addresses are 16 bits: the last block that fits starts at 65320 and ends at
// 65503, block 355 counted from 0.
constexpr int kLastBlock = int((0xFFFF - (kBlock - 1)) / kBlock);

// What the display says.
constexpr quint8 kAccessOk = 0x07;      // to the access command
constexpr quint8 kFrameOk = 0xAA;       // to an erase or data frame it took
constexpr quint8 kFrameRefused = 0x15;  // to one that fails its checks
inline const QByteArray kVersionText = QByteArrayLiteral("SIMDSP V1.00\r\n");

}  // namespace DisplayWire
