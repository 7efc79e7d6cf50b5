// The AI service's stand-in (QuarnAIService). See peers/README.md.

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kit/base/Json.h"
#include "kit/base/Paths.h"
#include "kit/base/ProcessInfo.h"
#include "peers/ai-service/AIServiceServer.h"
#include "peers/common/PeerCommandLine.h"
#include "peers/common/PeerOutput.h"

namespace {

void printUsage() {
    std::printf(
        "usage: QuarnAIService [--port <port>] [--ready-delay <ms>] [--auto-login <ms>] [--logged-in]\n"
        "                      [--user <name>] [--avatar <address>] [--bridge-script <file>] [--output <file>]\n"
        "                      [--work-unsaved] [--no-commands]\n"
        "Serves the AI pages on http://127.0.0.1:<port>/ (default 8765; 0 picks a free port).\n"
        "  --ready-delay    the pages signal that they are ready this long after the bridge is there\n"
        "  --auto-login     the login page logs in by itself this long after it is ready\n"
        "  --logged-in      start with the test user logged in\n"
        "  --work-unsaved   the image and document pages start with their work not saved\n"
        "  --no-commands    the pages never ask for commands: idle once loaded (benchmarks)\n"
        "  --user, --avatar the test user's name and avatar address\n"
        "  --bridge-script  the bridge's page script served to pages opened with standalone=1\n"
        "                   (default: bridge/WebViewJavascriptBridge.js in the resources folder)\n"
        "  --output         append a copy of every output line to this file\n");
}

}  // namespace

// A library exception here ends the stand-in through std::terminate, with its message: a failed
// start that the tests see at once.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
    std::vector<std::string> arguments(argv, argv + argc);
    kit::process::setArguments(arguments);
    ::signal(SIGPIPE, SIG_IGN);

    peers::aiservice::ServiceOptions options;
    options.bridgeScript = kit::paths::resourcesDirectory() / "bridge" / "WebViewJavascriptBridge.js";
    std::int64_t port = 8765;
    std::string outputPath;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        auto value = [&]() -> const std::string* { return i + 1 < arguments.size() ? &arguments[++i] : nullptr; };
        auto integer = [&](std::int64_t& out, std::int64_t low, std::int64_t high) {
            const std::string* v = value();
            auto parsed = v ? peers::parseInteger(*v) : kit::Result<std::int64_t>(kit::Error{a + " needs a value"});
            if (!parsed || *parsed < low || *parsed > high) {
                std::fprintf(stderr, "QuarnAIService: %s needs a number from %lld to %lld\n", a.c_str(),
                             static_cast<long long>(low), static_cast<long long>(high));
                return false;
            }
            out = *parsed;
            return true;
        };
        std::int64_t number = 0;
        if (a == "--help" || a == "-h") {
            printUsage();
            return 0;
        }
        if (a == "--port") {
            if (!integer(port, 0, 65535)) return 2;
        } else if (a == "--ready-delay") {
            if (!integer(number, 0, 600000)) return 2;
            options.readyDelayMs = static_cast<int>(number);
        } else if (a == "--auto-login") {
            if (!integer(number, 0, 600000)) return 2;
            options.autoLoginMs = static_cast<int>(number);
        } else if (a == "--logged-in") {
            options.startLoggedIn = true;
        } else if (a == "--work-unsaved") {
            options.workSavedAtFirst = false;
        } else if (a == "--no-commands") {
            options.pagesTakeCommands = false;
        } else if (a == "--user" || a == "--avatar" || a == "--bridge-script" || a == "--output") {
            const std::string* v = value();
            if (!v) {
                std::fprintf(stderr, "QuarnAIService: %s needs a value\n", a.c_str());
                return 2;
            }
            if (a == "--user") options.userName = *v;
            else if (a == "--avatar") options.avatar = *v;
            else if (a == "--bridge-script") options.bridgeScript = *v;
            else outputPath = *v;
        } else {
            std::fprintf(stderr, "QuarnAIService: unknown argument %s (try --help)\n", a.c_str());
            return 2;
        }
    }

    peers::PeerOutput output;
    std::string why;
    if (!outputPath.empty() && !output.copyTo(outputPath, &why)) {
        std::fprintf(stderr, "QuarnAIService: cannot write the output copy: %s\n", why.c_str());
        return 2;
    }
    // Requests are handled on this thread's main context, so the sink needs no lock.
    auto service = std::make_shared<peers::aiservice::AIService>(options, [&output](const std::string& line) { output.line(line); });
    auto server = peers::aiservice::AIServiceServer::start(service, static_cast<int>(port));
    if (!server) {
        output.error(server.error());
        return 1;
    }
    output.line("listening " + kit::toJson(kit::Dictionary{{"baseAddress", (*server)->baseAddress()},
                                                                  {"port", (*server)->port()},
                                                                  {"pid", kit::process::processId()}}));

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    auto quit = +[](gpointer data) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(data));
        return G_SOURCE_CONTINUE;
    };
    guint interrupt = g_unix_signal_add(SIGINT, quit, loop);
    guint terminate = g_unix_signal_add(SIGTERM, quit, loop);
    g_main_loop_run(loop);
    g_source_remove(interrupt);
    g_source_remove(terminate);
    server->reset();
    g_main_loop_unref(loop);
    output.line("bye");
    return 0;
}
