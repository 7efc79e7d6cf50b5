#pragma once
// A scripted network for tests. While an instance lives, Reachability::create makes watches that
// follow its flags: each running watch reports once on a later turn of the main loop after it
// starts, and again, at once, whenever the test reports new flags.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kit/sys/Reachability.h"

namespace kit {

class ScriptedReachability {
public:
    ScriptedReachability();
    ~ScriptedReachability();
    ScriptedReachability(const ScriptedReachability&) = delete;
    ScriptedReachability& operator=(const ScriptedReachability&) = delete;

    // New flags for every watch (nullopt: they cannot be read), reported to the running ones.
    void setFlags(std::optional<std::uint32_t> flags);
    // Reports the current flags again, as a system that repeats itself.
    void report();
    std::optional<std::uint32_t> flags() const;

    // Failures to script: creating a watch answers nullptr; starting one answers false.
    void setCreationFails(bool fails);
    void setStartFails(bool fails);

    std::vector<ReachabilityTarget> createdTargets() const;
    std::size_t runningWatchCount() const;

    struct Network;

private:
    std::shared_ptr<Network> network_;
};

}  // namespace kit
