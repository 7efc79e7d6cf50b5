#pragma once
// The small GTK drag source (helpers/DragSource.cpp) run as another process, for tests of drags
// that begin outside the program under test. QUARN_DRAG_SOURCE_HELPER names its executable.

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

// The build names it; on its own, the helper is looked for on the PATH.
#ifndef QUARN_DRAG_SOURCE_HELPER
#define QUARN_DRAG_SOURCE_HELPER "kit_desktopcapture_drag_source"
#endif

namespace kit::testing {

// The drag source, running until it is destroyed (or told to quit by closing its input).
class DragSourceProcess {
public:
    DragSourceProcess(int x, int y, const std::string& kind, const std::vector<std::string>& items) {
        std::vector<std::string> args{QUARN_DRAG_SOURCE_HELPER, std::to_string(x), std::to_string(y), kind};
        args.insert(args.end(), items.begin(), items.end());
        std::vector<gchar*> argv;
        argv.reserve(args.size() + 1);
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_,
                                      &input_, &output_, nullptr, &error)) {
            ADD_FAILURE() << "cannot start the drag source: " << (error ? error->message : "?");
            if (error) g_error_free(error);
            return;
        }
        fcntl(output_, F_SETFL, fcntl(output_, F_GETFL) | O_NONBLOCK);
    }

    ~DragSourceProcess() {
        quit();
        if (pid_ > 0) {
            int status = 0;
            for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i) g_usleep(10000);
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
        if (output_ >= 0) close(output_);
    }

    // Whether it has said that its window is on screen.
    bool isReady() { return hasSaid("ready"); }
    // Whether it has said that a drag from it is over.
    bool hasEndedADrag() { return hasSaid("drag ended"); }

    void quit() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }

private:
    bool hasSaid(const std::string& line) {
        char buffer[64];
        ssize_t count = 0;
        while (output_ >= 0 && (count = read(output_, buffer, sizeof buffer)) > 0)
            said_.append(buffer, static_cast<std::size_t>(count));
        return said_.find(line) != std::string::npos;
    }

    GPid pid_ = 0;
    int input_ = -1;
    int output_ = -1;
    std::string said_;
};

}  // namespace kit::testing
