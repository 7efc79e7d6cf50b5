// The text-grabbing tool's stand-in (QuarnGetText). See peers/README.md.

#include "peers/common/PeerMain.h"
#include "peers/text-tool/TextToolCommands.h"

int main(int argc, char** argv) {
    peers::texttool::TextToolSession session;
    peers::PeerProgram program;
    program.name = "QuarnGetText";
    program.bundleIdentifier = peers::texttool::kBundleIdentifier;
    program.envPrefix = "QUARN_GETTEXT";
    program.help = peers::texttool::textToolCommandHelp();
    program.parse = [&session](std::string_view line) { return session.command(line); };
    program.receives = peers::texttool::textToolReceives;
    // The real tool places its panels: a panel's new size comes back as its frame (event 3).
    program.onReceived = [&session](peers::PeerProcess& peer, const kit::DistributedNotification& n) {
        if (n.name != peers::texttool::kPanelWindowSizeChanged) return;
        if (auto answer = session.answerPanelSize(n.userInfo)) peer.perform(*answer, {});
    };
    return peers::runPeerProgram(program, argc, argv);
}
