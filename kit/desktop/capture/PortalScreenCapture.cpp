#include "kit/desktop/capture/PortalScreenCapture.h"

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/services/DesktopPortal.h"
#include "kit/sys/DBusConnection.h"
#include "kit/ui/Image.h"
#include "kit/ui/Pasteboard.h"

namespace kit::desktop {

Result<std::shared_ptr<PortalScreenCapture>> PortalScreenCapture::make(const std::string& busAddress) {
    auto bus = dbus::openConnection(busAddress);
    if (!bus) return Error{bus.error()};
    return std::shared_ptr<PortalScreenCapture>(new PortalScreenCapture(std::move(*bus)));
}

PortalScreenCapture::~PortalScreenCapture() {
    alive_.end();
    if (completion_) cancelSelection();
    watch_.reset();
    bus_.close();
}

void PortalScreenCapture::selectRegion(Completion completion) {
    if (completion_) {
        RunLoop::main().post([completion = std::move(completion)] {
            if (completion) completion(std::nullopt);
        });
        return;
    }
    completion_ = completion ? std::move(completion) : [](const std::optional<std::vector<std::uint8_t>>&) {};
    const std::string token = portal::newToken();
    request_ = portal::requestPath(bus_.get(), token);
    // Subscribed before the call, so an answer that comes at once is not missed.
    watch_ = std::make_unique<portal::ResponseWatch>(bus_.get(), request_, [this](guint32 response, GVariant* results) {
        answered(response, results);
    });
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(TRUE));
    struct Call {
        PortalScreenCapture* self;
        LifetimeWatch alive;
        std::string request;
    };
    g_dbus_connection_call(
        bus_.get(), portal::kBusName, portal::kObjectPath, "org.freedesktop.portal.Screenshot", "Screenshot",
        g_variant_new("(sa{sv})", "", &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            auto reply = VariantRef::adopt(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
            if (reply) return;
            const std::string why = dbus::takeError(error);
            if (call->alive.expired() || call->self->request_ != call->request || !call->self->completion_) return;
            logf("The screen cannot be captured through the desktop portal: %s", why.c_str());
            call->self->finish(std::nullopt);
        },
        new Call{this, alive_.watch(), request_});
}

void PortalScreenCapture::answered(guint32 response, GVariant* results) {
    std::optional<std::vector<std::uint8_t>> png;
    const char* uri = nullptr;
    if (response == portal::kResponseSuccess && g_variant_lookup(results, "uri", "&s", &uri) && uri) {
        gchar* path = g_filename_from_uri(uri, nullptr, nullptr);
        if (!path) {
            logf("The desktop portal's screenshot is not a local file: %s", uri);
        } else if (auto image = Image::fromFile(path); !image) {
            logf("The desktop portal's screenshot cannot be read: %s", image.error().c_str());
        } else if (auto encoded = image->encode(ImageFormat::Png); !encoded) {
            logf("The captured image could not be encoded: %s", encoded.error().c_str());
        } else {
            png = std::move(*encoded);
            auto& pasteboard = Pasteboard::general();
            pasteboard.clearContents();
            pasteboard.setData(*png, kPasteboardTypePNG);
        }
        g_free(path);
    } else if (response == portal::kResponseCancelled) {
        logLine("The screenshot was cancelled in the desktop portal's dialog (response 1)");
    } else if (response == portal::kResponseFailed) {
        logLine("The desktop portal could not take the screenshot: it failed (response 2)");
    } else if (response != portal::kResponseSuccess) {
        logf("The desktop portal ended the screenshot with an unknown response %u", response);
    }
    finish(std::move(png));
}

void PortalScreenCapture::cancelSelection() {
    if (!completion_) return;
    // The portal's dialog goes too.
    g_dbus_connection_call(bus_.get(), portal::kBusName, request_.c_str(), "org.freedesktop.portal.Request", "Close", nullptr,
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    finish(std::nullopt);
}

void PortalScreenCapture::finish(std::optional<std::vector<std::uint8_t>> png) {
    auto completion = std::move(completion_);
    completion_ = nullptr;
    // Not under the watch's own callback: it goes on a later turn.
    RunLoop::main().post([watch = std::shared_ptr<portal::ResponseWatch>(std::move(watch_)), completion,
                          png = std::move(png)]() mutable {
        watch.reset();
        if (completion) completion(std::move(png));
    });
}

}  // namespace kit::desktop
