// The host application's stand-in (QuarnHost). See peers/README.md.

#include "peers/common/PeerMain.h"
#include "peers/host/HostCommands.h"

namespace {

constexpr const char* kShowAIPreferences = "kA2M_KZAIIPCShowAIPreferencesNotification";

}  // namespace

int main(int argc, char** argv) {
    peers::PeerProgram program;
    program.name = "QuarnHost";
    program.bundleIdentifier = peers::host::kBundleIdentifier;
    program.envPrefix = "QUARN_HOST";
    program.help = peers::host::hostCommandHelp();
    program.parse = peers::host::parseHostCommand;
    program.receives = peers::host::hostReceives;
    program.onReceived = [](peers::PeerProcess& peer, const kit::DistributedNotification& n) {
        if (n.name == kShowAIPreferences) peer.output().line("open-preferences ai");
    };
    // The assistant starts the host with "2", "ai" to show its AI preferences.
    program.onReady = [](peers::PeerProcess& peer, const std::vector<std::string>& arguments) {
        if (arguments.size() == 2 && arguments[0] == "2" && arguments[1] == "ai") peer.output().line("open-preferences ai");
    };
    return peers::runPeerProgram(program, argc, argv);
}
