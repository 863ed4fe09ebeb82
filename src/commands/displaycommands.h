#pragma once

#include "link/seriallink.h"

#include <QByteArray>

#include <array>
#include <optional>

class MessageSink;
class PortMap;
struct Settings;

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

// "COM 2: not available."
QString portUnavailableText(int port);

// Opens the port of the settings (closing it first); on failure tells the
// operator "COM N: not available." under the application's title and
// returns why, with the port closed.
[[nodiscard]] std::optional<OpenFailure> openCommandPort(const Settings &settings, const PortMap &ports,
                                                         SerialLink &link, MessageSink &sink);

// Transmit Command: completes the packet in `settings`, opens the port and
// sends the 8 bytes; the port stays open. Returns the open failure, if any.
std::optional<OpenFailure> sendParameterPacket(Settings &settings, const PortMap &ports,
                                               SerialLink &link, MessageSink &sink);

// Get Fireware Version: sends the query and closes the port; no answer is read.
std::optional<OpenFailure> sendVersionQuery(const Settings &settings, const PortMap &ports,
                                            SerialLink &link, MessageSink &sink);
