#pragma once

#include "link/seriallink.h"

#include <QByteArray>

#include <array>
#include <optional>

class MessageSink;

namespace DisplayPacket {
constexpr quint8 kStart = 0x02;          // STX
constexpr quint8 kEnd = 0x03;            // ETX
constexpr quint8 kSetParameters = 0x01;  // command byte of the parameter packet
constexpr quint8 kQueryVersion = 0x80;   // command byte of the version query

// Frames the four parameter bytes (2..5) of `packet`: start, command and end
// bytes, then the check byte computed from zero as the XOR of bytes 0..6.
std::array<quint8, 8> parameterPacket(std::array<quint8, 8> packet);
// 02 80 03 81
std::array<quint8, 4> versionQuery();

template <std::size_t N>
QByteArray bytes(const std::array<quint8, N> &a)
{
    return QByteArray(reinterpret_cast<const char *>(a.data()), qsizetype(N));
}
}  // namespace DisplayPacket

// Opens the target's port (closing it first); on failure tells the operator
// "COM N: not available." under the application's title and returns why,
// with the port closed.
[[nodiscard]] std::optional<OpenFailure> openCommandPort(const Target &target, SerialLink &link, MessageSink &sink);

// Transmit Command: opens the port and sends the 8 bytes of the completed
// `packet`; the port stays open. Returns the open failure, if any.
std::optional<OpenFailure> sendParameterPacket(const Target &target, const std::array<quint8, 8> &packet,
                                               SerialLink &link, MessageSink &sink);

// Get Fireware Version: sends the query and closes the port once the query
// has left (the link's closed() tells when); no answer is read.
std::optional<OpenFailure> sendVersionQuery(const Target &target, SerialLink &link, MessageSink &sink);
