#pragma once
// The AI service on a socket: a libsoup server on 127.0.0.1, on the GLib main context that is
// the thread's default when it starts (requests are handled there).

#include <memory>
#include <string>

#include "kit/base/Result.h"
#include "peers/ai-service/AIService.h"

namespace peers::aiservice {

class AIServiceServer {
public:
    // Listens on 127.0.0.1 at `port` (0: a free port). Fails when the port is taken.
    static kit::Result<std::unique_ptr<AIServiceServer>> start(std::shared_ptr<AIService> service, int port);
    ~AIServiceServer();
    AIServiceServer(const AIServiceServer&) = delete;
    AIServiceServer& operator=(const AIServiceServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>/", the AI base address of the assistant.
    std::string baseAddress() const;
    AIService& service() { return *service_; }

    struct Impl;

private:
    AIServiceServer() = default;
    std::shared_ptr<AIService> service_;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
};

}  // namespace peers::aiservice
