#include "peers/common/PeerMain.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "kit/base/Json.h"
#include "kit/base/ProcessInfo.h"

namespace peers {

kit::Result<PeerOptions> parsePeerOptions(const std::vector<std::string>& arguments, std::string_view envPrefix) {
    PeerOptions options;
    std::string prefix(envPrefix);
    if (const char* control = std::getenv((prefix + "_CONTROL").c_str())) options.controlPath = control;
    if (const char* output = std::getenv((prefix + "_OUTPUT").c_str())) options.outputPath = output;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](const char* flag) -> kit::Result<std::string> {
            if (i + 1 >= arguments.size()) return kit::Error{std::string(flag) + " needs a value"};
            return arguments[++i];
        };
        if (argument == "--control" || argument == "--output" || argument == "--send") {
            auto v = value(argument.c_str());
            if (!v) return kit::Error{v.error()};
            if (argument == "--control") options.controlPath = *v;
            else if (argument == "--output") options.outputPath = *v;
            else options.sends.push_back(*v);
        } else if (argument == "--quit-on-eof") {
            options.quitOnEof = true;
        } else if (argument == "--no-stdin") {
            options.readStdin = false;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument.size() > 2 && argument.starts_with("--")) {
            return kit::Error{"unknown option " + argument};
        } else {
            options.launchArguments.push_back(argument);
        }
    }
    return options;
}

namespace {

void printUsage(const PeerProgram& program) {
    std::printf(
        "usage: %s [--control <fifo>] [--output <file>] [--quit-on-eof] [--no-stdin] [launch arguments...]\n"
        "       %s --send <command> [--send <command>...]\n"
        "Owns the bus name %s and reads commands, one per line, from standard input and the FIFO.\n"
        "%s_CONTROL and %s_OUTPUT stand for --control and --output.\nCommands:\n",
        program.name.c_str(), program.name.c_str(), program.bundleIdentifier.c_str(), program.envPrefix.c_str(),
        program.envPrefix.c_str());
    for (const auto& line : program.help) std::printf("  %s\n", line.c_str());
}

}  // namespace

int runPeerProgram(const PeerProgram& program, int argc, char** argv) {
    std::vector<std::string> all(argv, argv + argc);
    kit::process::setArguments(all);
    auto options = parsePeerOptions(std::vector<std::string>(all.begin() + (argc > 0 ? 1 : 0), all.end()), program.envPrefix);
    if (!options) {
        std::fprintf(stderr, "%s: %s (try --help)\n", program.name.c_str(), options.error().c_str());
        return 2;
    }
    if (options->help) {
        printUsage(program);
        return 0;
    }

    PeerOutput output;
    std::string why;
    if (!options->outputPath.empty() && !output.copyTo(options->outputPath, &why)) {
        std::fprintf(stderr, "%s: cannot write the output copy: %s\n", program.name.c_str(), why.c_str());
        return 2;
    }
    PeerProcess peer(output);
    if (auto connected = peer.connect(); !connected) {
        output.error(connected.error());
        return 1;
    }

    auto execute = [&](const std::string& line) {
        auto action = program.parse(line);
        if (!action) {
            output.error(action.error());
            return false;
        }
        return peer.perform(*action, program.help);
    };

    if (!options->sends.empty()) {
        bool ok = true;
        for (const auto& command : options->sends) ok = execute(command) && ok;
        return ok ? 0 : 1;
    }

    if (auto claimed = peer.claimName(program.bundleIdentifier); !claimed) {
        output.error(claimed.error());
        return 1;
    }
    peer.observe(program.receives, [&](const kit::DistributedNotification& n) {
        output.line(notificationLine("received", n.name, n.userInfo));
        if (program.onReceived) program.onReceived(peer, n);
    });
    if (!options->controlPath.empty()) {
        if (auto opened = peer.openControlFifo(options->controlPath, [&](const std::string& line) { execute(line); });
            !opened) {
            output.error(opened.error());
            return 1;
        }
    }
    if (options->readStdin) {
        bool quitOnEof = options->quitOnEof;
        peer.readLines(STDIN_FILENO, [&](const std::string& line) { execute(line); },
                       [&peer, quitOnEof] {
                           if (quitOnEof) peer.quit();
                       });
    }

    kit::Array launchArguments;
    for (const auto& argument : options->launchArguments) launchArguments.emplace_back(argument);
    output.line("ready " + kit::toJson(kit::Dictionary{
                               {"busName", program.bundleIdentifier},
                               {"pid", kit::process::processId()},
                               {"control", options->controlPath.empty() ? kit::Value() : kit::Value(options->controlPath)},
                               {"arguments", kit::Value(std::move(launchArguments))}}));
    if (program.onReady) program.onReady(peer, options->launchArguments);
    return peer.run();
}

}  // namespace peers
