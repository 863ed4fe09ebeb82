#include "commands/displaycommands.h"

#include "commands/messagesink.h"

std::array<quint8, 8> DisplayPacket::parameterPacket(std::array<quint8, 8> packet)
{
    packet[0] = kStart;
    packet[1] = kSetParameters;
    packet[6] = kEnd;
    packet[7] = 0;  // an earlier check byte must never enter the new one
    for (std::size_t i = 0; i < 7; ++i)
        packet[7] ^= packet[i];
    return packet;
}

std::array<quint8, 4> DisplayPacket::versionQuery()
{
    return {kStart, kQueryVersion, kEnd, quint8(kStart ^ kQueryVersion ^ kEnd)};
}

std::optional<OpenFailure> openCommandPort(const Target &target, SerialLink &link, MessageSink &sink)
{
    std::optional<OpenFailure> failure = link.open(target);
    if (failure) {
        sink.showMessage(target.unavailableText, applicationTitle());
        link.close();
    }
    return failure;
}

std::optional<OpenFailure> sendParameterPacket(const Target &target, const std::array<quint8, 8> &packet,
                                               SerialLink &link, MessageSink &sink)
{
    if (auto failure = openCommandPort(target, link, sink))
        return failure;
    // A failed write shows nothing: the display simply does not change.
    [[maybe_unused]] const bool written = link.write(DisplayPacket::bytes(packet));
    return std::nullopt;
}

std::optional<OpenFailure> sendVersionQuery(const Target &target, SerialLink &link, MessageSink &sink)
{
    if (auto failure = openCommandPort(target, link, sink))
        return failure;
    [[maybe_unused]] const bool written = link.write(DisplayPacket::bytes(DisplayPacket::versionQuery()));
    // Closed once the four bytes have left: a close at once would drop them.
    link.closeWhenDrained();
    return std::nullopt;
}
