#include "cli/commandrun.h"

#include "cli/exitstatus.h"
#include "cli/clirequest.h"
#include "isp/downloadoutcome.h"
#include "isp/downloadrecord.h"
#include "cli/portrun.h"
#include "cli/runevents.h"
#include "commands/displaycommands.h"
#include "isp/firmwareimage.h"
#include "link/devicefacts.h"
#include "link/portcatalog.h"
#include "settings/portmap.h"
#include "settings/portstore.h"
#include "sim/simulatedline.h"

namespace {

// The saved map, with a warning for whatever in it was ignored.
PortMap savedPorts(const PortStore &store, RunEvents &events)
{
    PortMap ports;
    const PortStore::Contents saved = store.load();
    if (!saved.warning.isEmpty())
        events.note(QStringLiteral("custdisp-cli: warning: ") + saved.warning);
    for (auto it = saved.devices.cbegin(); it != saved.devices.cend(); ++it)
        [[maybe_unused]] const bool ok = ports.setSaved(it.key(), it.value());
    return ports;
}

// The ports there are, then what each "Com N" names; --map changes the
// saved map first.
RunResult listPorts(const CliRequest &request, RunEvents &events)
{
    RunResult result;
    result.command = request.commandName();
    const PortStore store;
    const QList<FoundPort> found = PortCatalog::system().ports();
    for (const MapChange &change : request.mapChanges) {
        // Windows knows its ports by name: a slip shows before it is used.
        if (DeviceFacts::portNaming() == PortNaming::ComNames) {
            QStringList present;
            for (const FoundPort &port : found)
                present.append(port.device);
            if (const QString why = WindowsPortName::mapWarning(change.device, present); !why.isEmpty())
                events.note(QStringLiteral("custdisp-cli: warning: --map %1=%2: %3").arg(change.number).arg(change.device, why));
        }
        // A by-id name finds the adapter again in any USB socket.
        const QString stored = change.device.isEmpty() ? change.device : DeviceFacts::stableName(change.device);
        QString dropped;
        if (const QString why = store.save(change.number, stored, &dropped); !why.isEmpty()) {
            result.failure = QStringLiteral("cannot save the port map: ") + why;
            result.exitCode = ExitCode::kFailure;
            return result;
        }
        if (!dropped.isEmpty())
            events.note(QStringLiteral("custdisp-cli: warning: ") + dropped);
    }
    PortListing listing;
    listing.found = found;
    const PortMap ports = savedPorts(store, events);
    const DisplayRecord record;
    const DisplayRecord::Contents held = record.load();
    if (!held.warning.isEmpty())
        events.note(QStringLiteral("custdisp-cli: warning: ") + held.warning);
    listing.recordFile = record.path();
    listing.records = held.entries;
    listing.recordWarning = held.warning;
    for (int n = PortMap::kFirstPort; n <= PortMap::kLastPort; ++n)
        listing.map.append({n, ports.deviceFor(n), DeviceFacts::realDevicePath(ports.deviceFor(n)),
                            ports.sourceOf(n) == PortMap::Source::Saved,
                            held.find(DownloadRecord::keyOf(ports.deviceFor(n)))});
    result.listing = listing;
    return result;
}

// Reads the image exactly as a download would, so both reach the same verdict.
RunResult planImage(const CliRequest &request)
{
    RunResult result;
    result.command = request.commandName();
    result.dryRun = true;
    result.image = ImageFacts::of(FirmwareImage::read(request.image));
    result.exitCode = result.image->exitCode();
    return result;
}

// Where one -p goes: "Com N" through the saved map, or a device named for this run.
Target targetFor(const PortName &name, const Settings &common, const PortMap &saved)
{
    PortMap ports = saved;
    const int n = name.number > 0 ? name.number : 1;
    // clang-format off
    if (name.number == 0)
        [[maybe_unused]] const bool named = ports.setDirect(n, name.device);  // never empty
    // clang-format on
    return ports.target(n, common.PortSettings);
}

// One device is one display, whatever its names: two jobs on it would write
// into each other's download.
QString sameDevice(const QList<Target> &targets)
{
    for (qsizetype i = 0; i < targets.size(); ++i) {
        const QString device = DeviceFacts::deviceIdentity(DeviceFacts::realDevicePath(targets.at(i).device));
        for (qsizetype j = 0; j < i; ++j) {
            if (device == DeviceFacts::deviceIdentity(DeviceFacts::realDevicePath(targets.at(j).device)))
                return QStringLiteral("-p %1 and -p %2 are one device (%3)").arg(targets.at(j).label, targets.at(i).label, device);
        }
    }
    return {};
}

// The command on every port named; the image is read once, before any port
// is touched.
RunResult runOnTargets(const CliRequest &request, RunEvents &events)
{
    RunResult result;
    result.command = request.commandName();
    const PortMap saved = savedPorts(PortStore(), events);
    QList<Target> targets;
    for (const PortName &name : request.ports)
        targets.append(targetFor(name, request.settings, saved));
    result.usageError = sameDevice(targets);
    if (!result.usageError.isEmpty()) {
        result.exitCode = ExitCode::kUsage;
        return result;
    }
    std::shared_ptr<const FirmwareImage> image;
    if (request.command == CliCommand::Isp) {
        image = std::make_shared<const FirmwareImage>(FirmwareImage::read(request.image));
        result.image = ImageFacts::of(*image);
        result.exitCode = result.image->exitCode();
        if (!result.image->isReady())
            return result;
    }
    std::unique_ptr<SimulatedLine> simulated;
    if (request.simulate) {
        simulated = SimulatedLine::start(&result.failure);
        if (!simulated) {
            result.exitCode = ExitCode::kUsage;
            return result;
        }
        // The simulated display takes the place of the one port.
        targets.first().device = simulated->devicePath();
        if (!request.quiet)
            events.note(QStringLiteral("simulated display on %1").arg(simulated->devicePath()));
    }
    const PortRun run = runOnPorts(request.command, targets, DisplayPacket::parameterPacket(request.settings.ParamPacket),
                                   image, request.trace, events, RecordUse{!request.simulate, request.skipHeld});
    result.ports = run.results;
    result.exitCode = run.exitCode();
    return result;
}

}  // namespace

RunResult runCommand(const CliRequest &request, RunEvents &events)
{
    if (request.command == CliCommand::Ports)
        return listPorts(request, events);
    if (request.command == CliCommand::Isp && request.dryRun)
        return planImage(request);
    return runOnTargets(request, events);
}
