#include "peers/ai-service/AIServiceServer.h"

#include <libsoup/soup.h>

#include <exception>

namespace peers::aiservice {

struct AIServiceServer::Impl {
    SoupServer* server = nullptr;
    ~Impl() {
        if (server) {
            soup_server_disconnect(server);
            g_object_unref(server);
        }
    }
};

namespace {

void handleRequest(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
    auto* service = static_cast<AIService*>(data);
    HttpRequest request;
    request.method = soup_server_message_get_method(message);
    request.path = path ? path : "/";
    if (GUri* uri = soup_server_message_get_uri(message); uri && g_uri_get_query(uri)) request.query = g_uri_get_query(uri);
    if (SoupMessageBody* body = soup_server_message_get_request_body(message); body && body->data)
        request.body.assign(body->data, static_cast<std::size_t>(body->length));

    HttpResponse response;
    // Exceptions must not unwind through libsoup's C frames.
    try {
        response = service->handle(request);
    } catch (const std::exception& e) {
        response = HttpResponse{500, "text/plain; charset=utf-8", std::string("internal error: ") + e.what() + "\n", {}};
    }
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    for (const auto& [name, value] : response.headers) soup_message_headers_append(headers, name.c_str(), value.c_str());
    soup_server_message_set_status(message, static_cast<guint>(response.status), nullptr);
    soup_server_message_set_response(message, response.contentType.c_str(), SOUP_MEMORY_COPY, response.body.data(),
                                     response.body.size());
}

}  // namespace

kit::Result<std::unique_ptr<AIServiceServer>> AIServiceServer::start(std::shared_ptr<AIService> service, int port) {
    if (port < 0 || port > 65535) return kit::Error{"the port must be between 0 and 65535"};
    std::unique_ptr<AIServiceServer> server(new AIServiceServer());
    server->service_ = std::move(service);
    server->impl_ = std::make_unique<Impl>();
    server->impl_->server = soup_server_new("server-header", "QuarnAIService ", nullptr);
    soup_server_add_handler(server->impl_->server, nullptr, handleRequest, server->service_.get(), nullptr);

    GError* error = nullptr;
    if (!soup_server_listen_local(server->impl_->server, static_cast<guint>(port), SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
        std::string message = error ? error->message : "unknown error";
        if (error) g_error_free(error);
        return kit::Error{"cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + message};
    }
    GSList* uris = soup_server_get_uris(server->impl_->server);
    for (GSList* item = uris; item; item = item->next) {
        int p = g_uri_get_port(static_cast<GUri*>(item->data));
        if (p > 0) server->port_ = p;
    }
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    if (server->port_ <= 0) return kit::Error{"the server did not report its port"};
    server->service_->setPort(server->port_);
    return server;
}

AIServiceServer::~AIServiceServer() = default;

std::string AIServiceServer::baseAddress() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

}  // namespace peers::aiservice
