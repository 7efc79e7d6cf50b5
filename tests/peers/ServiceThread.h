#pragma once
// The AI service stand-in on a thread of its own (with its own GLib main context) and a plain
// HTTP client, for tests that talk to it over a socket.

#include <glib.h>
#include <libsoup/soup.h>

#include <future>
#include <memory>
#include <string>
#include <thread>

#include "peers/ai-service/AIServiceServer.h"

namespace peers::testing {

class ServiceThread {
public:
    explicit ServiceThread(const aiservice::ServiceOptions& options, int port = 0) {
        std::promise<std::string> started;
        auto result = started.get_future();
        thread_ = std::thread([this, options, port, &started] {
            context_ = g_main_context_new();
            g_main_context_push_thread_default(context_);
            loop_ = g_main_loop_new(context_, FALSE);
            service_ = std::make_shared<aiservice::AIService>(options);
            auto server = aiservice::AIServiceServer::start(service_, port);
            if (server) {
                port_ = (*server)->port();
                started.set_value({});
                g_main_loop_run(loop_);
                server->reset();
            } else {
                started.set_value(server.error());
            }
            g_main_loop_unref(loop_);
            g_main_context_pop_thread_default(context_);
            g_main_context_unref(context_);
        });
        error_ = result.get();
        if (!error_.empty()) thread_.join();
    }

    ~ServiceThread() {
        if (!thread_.joinable()) return;
        g_main_context_invoke(
            context_, +[](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_);
        thread_.join();
    }

    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    std::string address(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    aiservice::AIService& service() { return *service_; }

private:
    std::thread thread_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::shared_ptr<aiservice::AIService> service_;
    int port_ = 0;
    std::string error_;
};

struct Fetched {
    int status = 0;
    std::string contentType;
    std::string body;
    std::string error;
};

// A blocking request; the status is 0 and `error` says why when no answer came.
inline Fetched fetch(const std::string& method, const std::string& address, const std::string& body = {}) {
    Fetched result;
    SoupSession* session = soup_session_new_with_options("timeout", 10u, nullptr);
    SoupMessage* message = soup_message_new(method.c_str(), address.c_str());
    if (!message) {
        g_object_unref(session);
        result.error = "bad address " + address;
        return result;
    }
    if (!body.empty()) {
        GBytes* bytes = g_bytes_new(body.data(), body.size());
        soup_message_set_request_body_from_bytes(message, "application/json", bytes);
        g_bytes_unref(bytes);
    }
    GError* error = nullptr;
    GBytes* answer = soup_session_send_and_read(session, message, nullptr, &error);
    if (answer) {
        result.status = static_cast<int>(soup_message_get_status(message));
        if (const char* type = soup_message_headers_get_one(soup_message_get_response_headers(message), "Content-Type"))
            result.contentType = type;
        gsize size = 0;
        const char* data = static_cast<const char*>(g_bytes_get_data(answer, &size));
        result.body.assign(data ? data : "", size);
        g_bytes_unref(answer);
    } else {
        result.error = error ? error->message : "no answer";
        if (error) g_error_free(error);
    }
    g_object_unref(message);
    g_object_unref(session);
    return result;
}

}  // namespace peers::testing
