#include "frameworks/KZImageLoader.h"

// The worker thread runs a loop of its own (on a GLib main context of its own) with one HTTP
// session; every job lives on that thread from start to finish. The main thread only posts jobs
// to it and cancels them through their GCancellable. Results come back as tasks posted to the
// main run loop.

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kit/base/Ascii.h"
#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Screen.h"
#include "kit/ui/Window.h"

namespace {

struct Job {
    std::string address;
    kit::GRef<GCancellable> cancellable;
    std::size_t maximumBytes = 0;
    kit::Image::DecodeLimits limits;
    std::function<void(kit::Result<kit::Image>)> finish;  // called on the worker thread
    kit::GRef<SoupMessage> message;
    kit::GRef<GInputStream> stream;
    std::vector<std::uint8_t> body;
    void* worker = nullptr;
};

// Cancels its download when released. The cancellation itself happens on the worker thread:
// cancelling from another thread while the worker's socket source is being disposed races inside
// GLib's cancellable source and can leak it, so the token only queues the cancel on the worker's
// loop. A loop whose worker has already stopped releases the queued cancel with itself.
struct LoadToken {
    std::shared_ptr<kit::RunLoop> workerLoop;
    kit::GRef<GCancellable> cancellable;
    LoadToken(std::shared_ptr<kit::RunLoop> loop, GCancellable* c)
        : workerLoop(std::move(loop)), cancellable(kit::GRef<GCancellable>::retain(c)) {}
    LoadToken(const LoadToken&) = delete;
    LoadToken& operator=(const LoadToken&) = delete;
    ~LoadToken() {
        workerLoop->post([cancellable = std::move(cancellable)] { g_cancellable_cancel(cancellable.get()); });
    }
};

std::string errorText(const GError* error, const char* fallback) {
    return error && error->message ? std::string(error->message) : std::string(fallback);
}

std::string_view schemeOf(std::string_view address) {
    const auto colon = address.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    const std::string_view scheme = address.substr(0, colon);
    auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!alpha(scheme[0])) return {};
    for (char c : scheme) {
        if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return {};
    }
    return scheme;
}

// An address for a log line: data addresses can be megabytes long.
std::string shortAddress(std::string_view address) {
    constexpr std::size_t kLimit = 96;
    if (address.size() <= kLimit) return std::string(address);
    return std::string(address.substr(0, kLimit)) + "...";
}

// One decoded copy per address and size: data addresses can be megabytes long, so long
// addresses are known by their digest.
std::string pictureKey(std::string_view address, const KZImageLoader::PixelTarget& target) {
    std::string key;
    if (address.size() > 512) {
        gchar* digest = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(address.data()),
                                                    address.size());
        key = std::string("sha256:") + digest;
        g_free(digest);
    } else {
        key = address;
    }
    char size[64];
    std::snprintf(size, sizeof size, "\n%dx%d@%g", target.width, target.height, target.scale);
    return key + size;
}

}  // namespace

struct KZImageLoader::State {
    struct ViewRequest {
        std::weak_ptr<kit::ImageView> view;
        std::shared_ptr<void> token;
    };
    std::unordered_map<const kit::View*, ViewRequest> views;
    // Decoded pictures, held by the images that views show, not here.
    std::unordered_map<std::string, std::weak_ptr<kit::Image::Data>> pictures;
    std::size_t pending = 0;
    std::size_t started = 0;

    // The copy already decoded for `key` if someone still holds it; otherwise `image` becomes it.
    kit::Image share(const std::string& key, kit::Image image) {
        for (auto it = pictures.begin(); it != pictures.end();)
            it = it->second.expired() ? pictures.erase(it) : std::next(it);
        if (auto held = pictures[key].lock()) return kit::Image::fromDataObject(std::move(held));
        pictures[key] = image.data();
        return image;
    }
    std::shared_ptr<kit::Image::Data> shared(const std::string& key) const {
        auto it = pictures.find(key);
        return it == pictures.end() ? nullptr : it->second.lock();
    }
};

struct KZImageLoader::Worker {
    Options options;
    // The worker thread's own loop; posting to it is safe from any thread.
    std::shared_ptr<kit::RunLoop> loop;
    std::thread thread;
    // Worker thread only.
    kit::GRef<SoupSession> session;
    std::unordered_set<Job*> jobs;
    bool stopping = false;

    explicit Worker(Options o) : options(o) {
        std::promise<std::shared_ptr<kit::RunLoop>> made;
        auto future = made.get_future();
        thread = std::thread([this, &made] { run(made); });
        loop = future.get();
    }

    ~Worker() {
        loop->post([this] { stop(); });
        thread.join();
    }

    void run(std::promise<std::shared_ptr<kit::RunLoop>>& made) {
        auto own = kit::makeGlibRunLoopWithOwnContext();
        // The first task, before any job: the session belongs to the loop's context.
        own->post([this] {
            session = kit::GRef<SoupSession>::adopt(soup_session_new());
            soup_session_set_timeout(session.get(), options.timeoutSeconds);
            soup_session_set_idle_timeout(session.get(), 60);
        });
        made.set_value(own);
        own->run();
    }

    void stop() {
        stopping = true;
        for (Job* job : jobs) g_cancellable_cancel(job->cancellable.get());
        if (jobs.empty()) finishStopping();
    }

    // The session's own clean-up runs as the loop ends.
    void finishStopping() {
        session = {};
        loop->quit();
    }

    void submit(Job* job) {
        loop->post([this, job] { begin(job); });
    }

    void begin(Job* job) {
        job->worker = this;
        jobs.insert(job);
        if (stopping || g_cancellable_is_cancelled(job->cancellable.get())) {
            fail(job, "cancelled");
            return;
        }
        if (kit::asciiEqualsIgnoringCase(schemeOf(job->address), "data")) {
            gchar* contentType = nullptr;
            GBytes* bytes = soup_uri_decode_data_uri(job->address.c_str(), &contentType);
            g_free(contentType);
            if (!bytes) {
                fail(job, "malformed data address");
                return;
            }
            gsize size = 0;
            const auto* data = static_cast<const std::uint8_t*>(g_bytes_get_data(bytes, &size));
            if (size > job->maximumBytes) {
                g_bytes_unref(bytes);
                fail(job, "image too large");
                return;
            }
            job->body.assign(data, data + size);
            g_bytes_unref(bytes);
            decode(job);
            return;
        }
        job->message = kit::GRef<SoupMessage>::adopt(soup_message_new("GET", job->address.c_str()));
        if (!job->message) {
            fail(job, "malformed address");
            return;
        }
        soup_session_send_async(session.get(), job->message.get(), G_PRIORITY_DEFAULT, job->cancellable.get(), &Worker::onSent, job);
    }

    static void onSent(GObject* source, GAsyncResult* result, gpointer data) {
        auto* job = static_cast<Job*>(data);
        GError* error = nullptr;
        GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), result, &error);
        auto* self = static_cast<Worker*>(job->worker);
        if (!stream) {
            self->fail(job, errorText(error, "request failed"));
            g_clear_error(&error);
            return;
        }
        job->stream = kit::GRef<GInputStream>::adopt(stream);
        const guint status = soup_message_get_status(job->message.get());
        if (status < 200 || status > 299) {
            self->fail(job, "HTTP status " + std::to_string(status));
            return;
        }
        const goffset length = soup_message_headers_get_content_length(soup_message_get_response_headers(job->message.get()));
        if (length > 0 && static_cast<std::uint64_t>(length) > job->maximumBytes) {
            self->fail(job, "image too large");
            return;
        }
        self->readMore(job);
    }

    void readMore(Job* job) {
        g_input_stream_read_bytes_async(job->stream.get(), gsize{64} * 1024, G_PRIORITY_DEFAULT, job->cancellable.get(),
                                        &Worker::onRead, job);
    }

    static void onRead(GObject* source, GAsyncResult* result, gpointer data) {
        auto* job = static_cast<Job*>(data);
        GError* error = nullptr;
        GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
        auto* self = static_cast<Worker*>(job->worker);
        if (!bytes) {
            self->fail(job, errorText(error, "read failed"));
            g_clear_error(&error);
            return;
        }
        gsize size = 0;
        const auto* chunk = static_cast<const std::uint8_t*>(g_bytes_get_data(bytes, &size));
        if (size == 0) {
            g_bytes_unref(bytes);
            self->decode(job);
            return;
        }
        if (job->body.size() + size > job->maximumBytes) {
            g_bytes_unref(bytes);
            self->fail(job, "image too large");
            return;
        }
        job->body.insert(job->body.end(), chunk, chunk + size);
        g_bytes_unref(bytes);
        self->readMore(job);
    }

    void decode(Job* job) {
        if (g_cancellable_is_cancelled(job->cancellable.get())) {
            fail(job, "cancelled");
            return;
        }
        auto image = kit::Image::fromData(job->body, job->limits);
        job->body = {};
        if (image) {
            done(job, std::move(image));
        } else if (image.error().starts_with(kit::Image::kTooLargeError)) {
            kit::logf("[Image] refused %s: %s", shortAddress(job->address).c_str(), image.error().c_str());
            fail(job, image.error());
        } else {
            fail(job, "undecodable image: " + image.error());
        }
    }

    void fail(Job* job, std::string message) { done(job, kit::Error{std::move(message)}); }

    void done(Job* job, kit::Result<kit::Image> result) {
        job->finish(std::move(result));
        jobs.erase(job);
        delete job;
        if (stopping && jobs.empty()) finishStopping();
    }
};

KZImageLoader::KZImageLoader() : KZImageLoader(Options{}) {}

KZImageLoader::KZImageLoader(Options options) : state_(std::make_shared<State>()) {
    worker_ = std::make_unique<Worker>(options);
}

KZImageLoader::~KZImageLoader() = default;

KZImageLoader& KZImageLoader::shared() {
    // Never destroyed: its worker may still be finishing when the process exits.
    static auto* loader = new KZImageLoader();
    return *loader;
}

bool KZImageLoader::isFetchableAddress(std::string_view address) {
    const auto scheme = schemeOf(address);
    return kit::asciiEqualsIgnoringCase(scheme, "http") || kit::asciiEqualsIgnoringCase(scheme, "https") ||
           kit::asciiEqualsIgnoringCase(scheme, "data");
}

std::size_t KZImageLoader::pendingCount() const { return state_->pending; }
std::size_t KZImageLoader::startedCount() const { return state_->started; }
std::size_t KZImageLoader::sharedPictureCount() const {
    std::size_t n = 0;
    for (const auto& [key, picture] : state_->pictures) n += picture.expired() ? 0 : 1;
    return n;
}

KZImageLoader::PixelTarget KZImageLoader::targetForView(const kit::View& view) {
    double scale = 0;
    if (auto window = view.window())
        if (auto screen = window->screen()) scale = screen->backingScaleFactor();
    if (scale <= 0) {
        for (const auto& screen : kit::Screen::screens()) scale = std::max(scale, screen->backingScaleFactor());
    }
    if (scale <= 0) scale = 1;
    const kit::Size size = view.bounds().size;
    return {static_cast<int>(std::ceil(size.width * scale)), static_cast<int>(std::ceil(size.height * scale)), scale};
}

std::shared_ptr<void> KZImageLoader::load(std::string_view address, Completion completion) {
    return load(address, PixelTarget{}, std::move(completion));
}

std::shared_ptr<void> KZImageLoader::load(std::string_view address, PixelTarget target, Completion completion) {
    auto loop = kit::RunLoop::mainShared();
    if (target.width <= 0 || target.height <= 0) {
        target.width = target.height = worker_->options.defaultPixelSide;
    }
    if (target.scale <= 0) target.scale = 1;
    if (!isFetchableAddress(address)) {
        auto token = std::make_shared<int>(0);
        std::weak_ptr<int> weakToken = token;
        std::string message = address.empty() ? "no address" : "unsupported address";
        loop->post([weakToken, completion = std::move(completion), message] {
            if (weakToken.lock() && completion) completion(kit::Error{message});
        });
        return token;
    }
    std::string key = pictureKey(address, target);
    std::weak_ptr<State> weakState = state_;
    if (auto held = state_->shared(key)) {
        // Already decoded at this size and still shown somewhere: no download, no decoding.
        auto token = std::make_shared<int>(0);
        std::weak_ptr<int> weakToken = token;
        ++state_->pending;
        loop->post([weakToken, weakState, completion = std::move(completion), held = std::move(held)] {
            if (auto state = weakState.lock()) --state->pending;
            if (weakToken.lock() && completion) completion(kit::Image::fromDataObject(held));
        });
        return token;
    }
    auto* job = new Job;
    job->address = std::string(address);
    job->cancellable = kit::GRef<GCancellable>::adopt(g_cancellable_new());
    job->maximumBytes = worker_->options.maximumBytes;
    job->limits.maximumPixels = worker_->options.maximumPixels;
    job->limits.targetPixelWidth = target.width;
    job->limits.targetPixelHeight = target.height;
    job->limits.targetScale = target.scale;
    auto token = std::make_shared<LoadToken>(worker_->loop, job->cancellable.get());
    std::weak_ptr<LoadToken> weakToken = token;
    job->finish = [loop, weakToken, weakState, key = std::move(key),
                   completion = std::move(completion)](kit::Result<kit::Image> result) {
        loop->post([weakToken, weakState, key, completion, result = std::move(result)]() mutable {
            auto state = weakState.lock();
            if (state) --state->pending;
            // Two loads of one picture that ran at once: the first decoded copy is kept.
            if (state && result) result = state->share(key, std::move(result.value()));
            if (weakToken.lock() && completion) completion(std::move(result));
        });
    };
    ++state_->pending;
    ++state_->started;
    worker_->submit(job);
    return token;
}

void KZImageLoader::setImage(const std::shared_ptr<kit::ImageView>& view, std::string_view address, kit::Image placeholder) {
    if (!view) return;
    // Dropping the earlier request's token cancels it, so only this one can set the image.
    cancel(*view);
    view->setImage(std::move(placeholder));
    if (!isFetchableAddress(address)) return;
    for (auto it = state_->views.begin(); it != state_->views.end();) {
        it = it->second.view.expired() ? state_->views.erase(it) : std::next(it);
    }
    const kit::View* key = view.get();
    std::weak_ptr<kit::ImageView> weakView = view;
    std::weak_ptr<State> weakState = state_;
    auto token = load(address, targetForView(*view), [weakView, weakState, key](kit::Result<kit::Image> result) {
        auto target = weakView.lock();
        if (auto state = weakState.lock()) state->views.erase(key);
        if (target && result) target->setImage(std::move(result.value()));
    });
    state_->views[key] = State::ViewRequest{view, std::move(token)};
}

void KZImageLoader::cancel(const kit::View& view) { state_->views.erase(&view); }

void sd_setImageWithURL(const std::shared_ptr<kit::ImageView>& view, std::string_view url) {
    KZImageLoader::shared().setImage(view, url, {});
}

void sd_setImageWithURL(const std::shared_ptr<kit::ImageView>& view, std::string_view url, kit::Image placeholder) {
    KZImageLoader::shared().setImage(view, url, std::move(placeholder));
}
