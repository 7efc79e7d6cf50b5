#include "kit/headless/ScriptedReachability.h"

#include <algorithm>

#include "kit/base/RunLoop.h"

namespace kit {

struct ScriptedReachability::Network {
    struct Watch {
        bool running = false;
        Reachability::Callback callback;
    };
    std::optional<std::uint32_t> flags = ReachabilityFlag::Reachable;
    bool creationFails = false;
    bool startFails = false;
    std::vector<ReachabilityTarget> targets;
    std::vector<std::weak_ptr<Watch>> watches;

    std::vector<std::shared_ptr<Watch>> running() {
        std::vector<std::shared_ptr<Watch>> live;
        for (auto& w : watches)
            if (auto watch = w.lock(); watch && watch->running) live.push_back(watch);
        return live;
    }

    static void deliver(const std::shared_ptr<Watch>& watch, std::uint32_t flags) {
        if (!watch->running) return;
        auto callback = watch->callback;
        if (callback) callback(flags);
    }
};

namespace {

class ScriptedWatch final : public Reachability {
public:
    explicit ScriptedWatch(std::shared_ptr<ScriptedReachability::Network> network)
        : network_(std::move(network)), watch_(std::make_shared<ScriptedReachability::Network::Watch>()) {
        network_->watches.push_back(watch_);
    }
    ~ScriptedWatch() override { stop(); }

    std::optional<std::uint32_t> flags() override { return network_->flags; }

    bool start(Callback callback) override {
        if (watch_->running) return true;
        if (network_->startFails) return false;
        watch_->running = true;
        watch_->callback = std::move(callback);
        std::weak_ptr<ScriptedReachability::Network::Watch> weakWatch = watch_;
        std::weak_ptr<ScriptedReachability::Network> weakNetwork = network_;
        RunLoop::main().post([weakWatch, weakNetwork] {
            auto watch = weakWatch.lock();
            auto network = weakNetwork.lock();
            if (!watch || !network) return;
            ScriptedReachability::Network::deliver(watch, network->flags.value_or(0));
        });
        return true;
    }

    void stop() override {
        watch_->running = false;
        watch_->callback = nullptr;
    }

private:
    std::shared_ptr<ScriptedReachability::Network> network_;
    std::shared_ptr<ScriptedReachability::Network::Watch> watch_;
};

}  // namespace

ScriptedReachability::ScriptedReachability() : network_(std::make_shared<Network>()) {
    std::weak_ptr<Network> weak = network_;
    Reachability::setFactory([weak](const ReachabilityTarget& target) -> std::unique_ptr<Reachability> {
        auto network = weak.lock();
        if (!network) return nullptr;
        network->targets.push_back(target);
        if (network->creationFails) return nullptr;
        return std::make_unique<ScriptedWatch>(network);
    });
}

ScriptedReachability::~ScriptedReachability() {
    Reachability::setFactory(nullptr);
    for (auto& watch : network_->running()) watch->running = false;
}

void ScriptedReachability::setFlags(std::optional<std::uint32_t> flags) {
    network_->flags = flags;
    report();
}

void ScriptedReachability::report() {
    for (auto& watch : network_->running()) Network::deliver(watch, network_->flags.value_or(0));
}

std::optional<std::uint32_t> ScriptedReachability::flags() const { return network_->flags; }

void ScriptedReachability::setCreationFails(bool fails) { network_->creationFails = fails; }

void ScriptedReachability::setStartFails(bool fails) { network_->startFails = fails; }

std::vector<ReachabilityTarget> ScriptedReachability::createdTargets() const { return network_->targets; }

std::size_t ScriptedReachability::runningWatchCount() const { return network_->running().size(); }

}  // namespace kit
