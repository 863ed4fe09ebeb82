#include "commands/displaycommands.h"

#include "settings/settings.h"
#include "commands/messagesink.h"
#include "settings/portmap.h"

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

QString portUnavailableText(int port)
{
    return QStringLiteral("COM %1: not available.").arg(port);
}

std::optional<OpenFailure> openCommandPort(const Settings &settings, const PortMap &ports,
                                           SerialLink &link, MessageSink &sink)
{
    const int port = settings.CommPortNumber;
    std::optional<OpenFailure> failure;
    if (!PortMap::isValidPort(port))
        failure = OpenFailure{OpenFailureCause::Missing, QStringLiteral("Com %1").arg(port), {}};
    else
        failure = link.open(ports.deviceFor(port), settings.PortSettings);
    if (failure) {
        sink.showMessage(PortMap::isValidPort(port) ? ports.unavailableText(port) : portUnavailableText(port),
                         applicationTitle());
        link.close();
    }
    return failure;
}

std::optional<OpenFailure> sendParameterPacket(Settings &settings, const PortMap &ports,
                                               SerialLink &link, MessageSink &sink)
{
    // The packet is completed even when the port then turns out to be missing.
    settings.ParamPacket = DisplayPacket::parameterPacket(settings.ParamPacket);
    if (auto failure = openCommandPort(settings, ports, link, sink))
        return failure;
    // A failed write shows nothing: the display simply does not change.
    [[maybe_unused]] const bool written = link.write(DisplayPacket::bytes(settings.ParamPacket));
    return std::nullopt;
}

std::optional<OpenFailure> sendVersionQuery(const Settings &settings, const PortMap &ports,
                                            SerialLink &link, MessageSink &sink)
{
    if (auto failure = openCommandPort(settings, ports, link, sink))
        return failure;
    [[maybe_unused]] const bool written = link.write(DisplayPacket::bytes(DisplayPacket::versionQuery()));
    // Drains before closing, so the four bytes reach the line.
    link.close();
    return std::nullopt;
}
