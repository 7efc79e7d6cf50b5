#pragma once
// The command line shared by the host and text-tool stand-ins:
//   --control <fifo>    also read commands from this FIFO (created when missing)
//   --output <file>     append a copy of every output line to this file
//   --send <command>    one-shot: send the command (repeatable) without owning the bus name, exit
//   --quit-on-eof       quit when standard input ends (by default the stand-in keeps running)
//   --no-stdin          do not read standard input
//   --help
// Other arguments are launch arguments, as the assistant gives them when it starts the host.
// Environment variables <PREFIX>_CONTROL and <PREFIX>_OUTPUT stand for --control and --output,
// for a stand-in that another program starts.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Result.h"
#include "kit/sys/DistributedNotificationCenter.h"
#include "peers/common/PeerAction.h"
#include "peers/common/PeerProcess.h"

namespace peers {

struct PeerOptions {
    std::string controlPath;
    std::string outputPath;
    std::vector<std::string> sends;
    bool quitOnEof = false;
    bool readStdin = true;
    bool help = false;
    std::vector<std::string> launchArguments;
};

// Reads the arguments (after the program name) and the environment variables named after
// `envPrefix`.
kit::Result<PeerOptions> parsePeerOptions(const std::vector<std::string>& arguments, std::string_view envPrefix);

struct PeerProgram {
    std::string name;              // for messages: "QuarnHost"
    std::string bundleIdentifier;  // the bus name it owns
    std::string envPrefix;         // "QUARN_HOST"
    std::vector<std::string> help;
    std::function<kit::Result<PeerAction>(std::string_view line)> parse;
    std::function<bool(std::string_view name)> receives;
    // Runs after the "received" line of every notification that passes `receives`.
    std::function<void(PeerProcess&, const kit::DistributedNotification&)> onReceived;
    // Runs once the name is owned, with the launch arguments.
    std::function<void(PeerProcess&, const std::vector<std::string>& launchArguments)> onReady;
};

// The whole life of a stand-in; returns the exit status.
int runPeerProgram(const PeerProgram& program, int argc, char** argv);

}  // namespace peers
