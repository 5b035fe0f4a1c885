#include "app/Station.h"

#include <cstdio>
#include <cstdlib>

#include "app/RunSequencer.h"
#include "automation/ToolLauncher.h"
#include "link/TelnetChannel.h"
#include "platform/Adapters.h"
#include "platform/CurrentDirectory.h"
#include "procedures/BootUpdater.h"
#include "procedures/FirmwareUpdater.h"
#include "procedures/MacWriter.h"
#include "procedures/ProfileBlockSource.h"
#include "procedures/StageRun.h"

namespace vornix {

struct Station::Parts {
    Parts(OperatorConsole& console, StationSettings fixed)
        : settings(std::move(fixed)),
          adapters(platform::makeAdapters(settings.configPath)),
          context{console, *adapters.profile, settings.configPath, settings.telnetWait, flags, pause} {}

    StationSettings settings;
    platform::Adapters adapters;
    RunFlags flags;
    RealPause pause;
    StationContext context;
    MacBlock macBlock;         // start_mac's text stays here between runs
    ToolHandles toolHandles;   // the flashing tool's windows, as the last launch left them
    std::unique_ptr<RunSequencer> sequencer;

    void macWriting() {
        ProfileBlockSource blocks(*adapters.profile, settings.configPath);
        MacWriter(context, macBlock, blocks).run();
    }
    void bootUpdate() { BootUpdater(context, *adapters.echo).run(); }
    void firmwareUpdate() {
        if (!adapters.windows) {
            // Not in this build: the stage ends as a failed one, without a line.
            StageRun(context, Stage::FirmwareUpdate).end(false);
            return;
        }
        ToolLauncher launcher(context, *adapters.toolHost, *adapters.windows, *adapters.devices, toolHandles);
        FirmwareUpdater(context, *adapters.echo, launcher, *adapters.windows, toolHandles, settings.directory).run();
    }
};

std::unique_ptr<Station> Station::open(OperatorConsole& console, StartRefusal& why, std::string& directory) {
    const std::optional<std::string> current = platform::currentDirectory();
    directory = current.value_or(std::string());
    const std::optional<StationSettings> settings =
        fixStationSettings(current, platform::pathSeparator(), &platform::makeProfile, &why);
    if (!settings) return nullptr;
    auto parts = std::make_unique<Parts>(console, *settings);
    Parts& p = *parts;
    p.sequencer = std::make_unique<RunSequencer>(
        p.context, *p.adapters.echo,
        RunSequencer::Stages{[&p] { p.macWriting(); }, [&p] { p.bootUpdate(); }, [&p] { p.firmwareUpdate(); }});
    return std::unique_ptr<Station>(new Station(std::move(parts)));
}

Station::Station(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

Station::~Station() { parts_->sequencer.reset(); }

const StationSettings& Station::settings() const { return parts_->settings; }

bool Station::builds(Stage stage) const { return stage != Stage::FirmwareUpdate || parts_->adapters.windows != nullptr; }

bool Station::startPressed() { return parts_->sequencer->startPressed(); }

RunOutcome Station::waitForRun() { return parts_->sequencer->waitForRun(); }

void Station::endProcess(int status) {
    awaitCollectors(1000);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace vornix
