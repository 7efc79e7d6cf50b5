#include <fcntl.h>
#include <glib.h>
#include <libsoup/soup.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "AppUiTestSupport.h"
#include "frameworks/KZImageLoader.h"
#include "kit/ui/ImageDecoders.h"
#include "kit/ui/ImageView.h"

namespace {

using quarn::testing::AppUiTest;

std::string pngOf(int width, int height, kit::Color color) {
    auto bytes = kit::Image::filled(width, height, color).encode(kit::ImageFormat::Png);
    return std::string(bytes->begin(), bytes->end());
}

std::string dataAddress(const std::string& bytes, const char* type = "image/png") {
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string address = std::string("data:") + type + ";base64," + encoded;
    g_free(encoded);
    return address;
}

// A greyscale PNG of the given size built by hand, row by row, `grey(x, y)` giving each pixel
// (all black when absent), interlaced or not: compressed runs stay tiny however many pixels they
// describe (40000 x 1 is under 200 bytes, 12000 x 12000 about 140 KB).
std::string greyPng(std::uint32_t width, std::uint32_t height, bool interlaced = false,
                    const std::function<std::uint8_t(std::uint32_t, std::uint32_t)>& grey = {}) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char byte : type + data) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
        return be32(static_cast<std::uint32_t>(data.size())) + type + data + be32(crc ^ 0xFFFFFFFFu);
    };
    // Each row: filter byte 0, then one byte per pixel. Interlaced pictures are seven smaller
    // ones (Adam7: first row and column, and steps, of each pass).
    struct Pass {
        std::uint32_t row, column, rowStep, columnStep;
    };
    const std::vector<Pass> passes = interlaced
                                         ? std::vector<Pass>{{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                                                             {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}}
                                         : std::vector<Pass>{{0, 0, 1, 1}};
    GConverter* zlib = G_CONVERTER(g_zlib_compressor_new(G_ZLIB_COMPRESSOR_FORMAT_ZLIB, 9));
    std::vector<char> out(1 << 16);
    std::string compressed;
    std::string pending;
    auto feed = [&](bool last) {
        std::size_t offset = 0;
        for (;;) {
            gsize read = 0, written = 0;
            const auto flags = last ? G_CONVERTER_INPUT_AT_END : G_CONVERTER_NO_FLAGS;
            const auto result = g_converter_convert(zlib, pending.data() + offset, pending.size() - offset, out.data(),
                                                    out.size(), flags, &read, &written, nullptr);
            if (result == G_CONVERTER_ERROR) break;
            compressed.append(out.data(), written);
            offset += read;
            if (result == G_CONVERTER_FINISHED || (!last && offset == pending.size())) break;
        }
        pending.clear();
    };
    for (const Pass& pass : passes) {
        if (pass.column >= width || pass.row >= height) continue;
        for (std::uint32_t y = pass.row; y < height; y += pass.rowStep) {
            pending.push_back(0);
            if (!grey) {
                pending.append((width - pass.column + pass.columnStep - 1) / pass.columnStep, 0);
            } else {
                for (std::uint32_t x = pass.column; x < width; x += pass.columnStep)
                    pending.push_back(static_cast<char>(grey(x, y)));
            }
            if (pending.size() >= (1u << 20)) feed(false);
        }
    }
    feed(true);
    g_object_unref(zlib);
    const std::string header =
        be32(width) + be32(height) + std::string{8, 0, 0, 0, char(interlaced ? 1 : 0)};  // 8-bit grey
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed) + chunk("IEND", "");
}

// The process's peak resident memory, in KiB, since the last reset.
long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return -1;
}
bool resetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

// A tiny HTTP server on its own thread and main context. Responses are set per path; a held
// path keeps its requests waiting until released.
class LocalImageServer {
public:
    LocalImageServer() {
        context_ = g_main_context_new();
        loop_ = g_main_loop_new(context_, FALSE);
        std::promise<int> port;
        auto ready = port.get_future();
        thread_ = std::thread([this, &port] { run(port); });
        port_ = ready.get();
    }

    ~LocalImageServer() {
        g_main_context_invoke(
            context_,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<LocalImageServer*>(data);
                // Answer whatever is still waiting, so that no client hangs.
                auto waiting = std::move(self->waiting_);
                self->waiting_.clear();
                for (auto& [path, messages] : waiting) {
                    for (auto* message : messages) {
                        soup_server_message_set_status(message, 503, nullptr);
                        self->resume(message);
                    }
                }
                g_main_loop_quit(self->loop_);
                return G_SOURCE_REMOVE;
            },
            this);
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    void respond(const std::string& path, int status, std::string body, std::string type = "image/png") {
        std::lock_guard lock(mutex_);
        responses_[path] = {status, std::move(body), std::move(type)};
    }
    void hold(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_[path] = true;
    }
    void release(const std::string& path) {
        struct Release {
            LocalImageServer* self;
            std::string path;
        };
        g_main_context_invoke_full(
            context_, G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto* r = static_cast<Release*>(data);
                {
                    std::lock_guard lock(r->self->mutex_);
                    r->self->held_[r->path] = false;
                }
                auto messages = std::move(r->self->waiting_[r->path]);
                r->self->waiting_.erase(r->path);
                for (auto* message : messages) {
                    r->self->answer(message, r->path);
                    r->self->resume(message);
                }
                return G_SOURCE_REMOVE;
            },
            new Release{this, path}, [](gpointer data) { delete static_cast<Release*>(data); });
    }
    int requests(const std::string& path) {
        std::lock_guard lock(mutex_);
        return counts_[path];
    }

private:
    struct Response {
        int status = 404;
        std::string body;
        std::string type;
    };

    void run(std::promise<int>& port) {
        g_main_context_push_thread_default(context_);
        SoupServer* server = soup_server_new(nullptr, nullptr);
        soup_server_add_handler(server, nullptr, &LocalImageServer::handle, this, nullptr);
        GError* error = nullptr;
        soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error);
        GSList* uris = soup_server_get_uris(server);
        port.set_value(uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : -1);
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        g_main_loop_run(loop_);
        soup_server_disconnect(server);
        g_object_unref(server);
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_context_pop_thread_default(context_);
    }

    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<LocalImageServer*>(data);
        bool held = false;
        {
            std::lock_guard lock(self->mutex_);
            ++self->counts_[path];
            held = self->held_[path];
        }
        if (held) {
            soup_server_message_pause(message);
            // A client that gives up closes the connection: forget the message then.
            g_object_ref(message);
            g_signal_connect(message, "disconnected", G_CALLBACK(&LocalImageServer::disconnected), self);
            self->waiting_[path].push_back(message);
            return;
        }
        self->answer(message, path);
    }

    static void disconnected(SoupServerMessage* message, gpointer data) {
        auto* self = static_cast<LocalImageServer*>(data);
        for (auto& [path, messages] : self->waiting_) {
            auto it = std::find(messages.begin(), messages.end(), message);
            if (it != messages.end()) {
                messages.erase(it);
                g_signal_handlers_disconnect_by_data(message, self);
                g_object_unref(message);
                return;
            }
        }
    }

    void resume(SoupServerMessage* message) {
        g_signal_handlers_disconnect_by_data(message, this);
        soup_server_message_unpause(message);
        g_object_unref(message);
    }

    void answer(SoupServerMessage* message, const std::string& path) {
        Response response;
        {
            std::lock_guard lock(mutex_);
            if (auto it = responses_.find(path); it != responses_.end()) response = it->second;
        }
        soup_server_message_set_status(message, static_cast<guint>(response.status), nullptr);
        soup_server_message_set_response(message, response.type.c_str(), SOUP_MEMORY_COPY, response.body.data(),
                                         response.body.size());
    }

    GMainContext* context_;
    GMainLoop* loop_;
    std::thread thread_;
    int port_ = -1;
    std::mutex mutex_;
    std::map<std::string, Response> responses_;
    std::map<std::string, bool> held_;
    std::map<std::string, int> counts_;
    // Server thread only.
    std::map<std::string, std::vector<SoupServerMessage*>> waiting_;
};

class ImageLoaderTest : public AppUiTest {
protected:
    // Runs the main loop until `done` (the worker posts results from its own thread). The bound
    // only keeps a broken build from hanging; it is not a speed check.
    template <class Done>
    bool pumpUntil(Done done) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < giveUp) {
            env.runUntilIdle();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    bool settle(KZImageLoader& loader) {
        return pumpUntil([&] { return loader.pendingCount() == 0; });
    }

    const kit::Image placeholder = kit::Image::filled(2, 2, kit::Color::fromHex(0x808080));
    const std::string redPng = pngOf(3, 2, kit::Color::fromHex(0xFF0000));
    const std::string bluePng = pngOf(5, 5, kit::Color::fromHex(0x0000FF));
};

TEST_F(ImageLoaderTest, DataAddressShowsThePlaceholderAtOnceThenTheImageSetOnTheMainLoop) {
    KZImageLoader loader;
    auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    loader.setImage(view, dataAddress(redPng), placeholder);
    EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));
    ASSERT_TRUE(settle(loader));
    EXPECT_EQ(view->image().pixelWidth(), 3);
    EXPECT_EQ(view->image().pixelAt(1, 1), kit::Color::fromHex(0xFF0000));

    const auto testThread = std::this_thread::get_id();
    std::thread::id completionThread;
    bool ok = false;
    auto handle = loader.load(dataAddress(bluePng), [&](kit::Result<kit::Image> result) {
        completionThread = std::this_thread::get_id();
        ok = result.ok() && result->pixelWidth() == 5;
    });
    ASSERT_TRUE(pumpUntil([&] { return ok; }));
    EXPECT_EQ(completionThread, testThread);
}

TEST_F(ImageLoaderTest, OnlyHttpHttpsAndDataAddressesAreFetched) {
    EXPECT_TRUE(KZImageLoader::isFetchableAddress("http://example.invalid/a.png"));
    EXPECT_TRUE(KZImageLoader::isFetchableAddress("HTTPS://example.invalid/a.png"));
    EXPECT_TRUE(KZImageLoader::isFetchableAddress("data:image/png;base64,AAAA"));
    const auto file = env.root() / "local.png";
    ASSERT_TRUE(kit::Image::filled(4, 4, kit::Color::black()).writeToFile(file).ok());
    KZImageLoader loader;
    auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    for (const std::string& address :
         {"file://" + file.string(), file.string(), std::string("ftp://127.0.0.1/a.png"),
          std::string("javascript:alert(1)"), std::string(""), std::string(":nothing"), std::string("about:blank")}) {
        SCOPED_TRACE(address);
        EXPECT_FALSE(KZImageLoader::isFetchableAddress(address));
        loader.setImage(view, address, placeholder);
        ASSERT_TRUE(settle(loader));
        env.runUntilIdle();
        EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));
    }
    EXPECT_EQ(loader.startedCount(), 0u);

    bool failed = false;
    auto handle = loader.load("file:///etc/passwd", [&](const kit::Result<kit::Image>& r) { failed = !r.ok(); });
    env.runUntilIdle();
    EXPECT_TRUE(failed);
}

TEST_F(ImageLoaderTest, HttpImageReplacesThePlaceholderFailuresKeepIt) {
    LocalImageServer server;
    server.respond("/red.png", 200, redPng);
    server.respond("/garbage.png", 200, "this is not an image", "image/png");
    server.respond("/gone.png", 404, "missing", "text/plain");
    KZImageLoader loader;

    auto good = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    auto garbage = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    auto gone = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    auto refused = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    loader.setImage(good, server.url("/red.png"), placeholder);
    loader.setImage(garbage, server.url("/garbage.png"), placeholder);
    loader.setImage(gone, server.url("/gone.png"), placeholder);
    // Nothing listens on port 1.
    loader.setImage(refused, "http://127.0.0.1:1/x.png", placeholder);
    ASSERT_TRUE(settle(loader));
    EXPECT_EQ(good->image().pixelAt(0, 0), kit::Color::fromHex(0xFF0000));
    EXPECT_TRUE(garbage->image().sharesPixelsWith(placeholder));
    EXPECT_TRUE(gone->image().sharesPixelsWith(placeholder));
    EXPECT_TRUE(refused->image().sharesPixelsWith(placeholder));
    EXPECT_EQ(server.requests("/red.png"), 1);
    EXPECT_EQ(server.requests("/gone.png"), 1);

    // No placeholder: the view is cleared at once, then gets the image.
    loader.setImage(good, server.url("/red.png"));
    EXPECT_TRUE(good->image().isNull());
    ASSERT_TRUE(settle(loader));
    EXPECT_FALSE(good->image().isNull());
}

TEST_F(ImageLoaderTest, TheLatestRequestOfAViewWins) {
    LocalImageServer server;
    server.respond("/slow-red.png", 200, redPng);
    server.respond("/blue.png", 200, bluePng);
    server.respond("/slow-blue.png", 200, bluePng);
    server.hold("/slow-red.png");
    server.hold("/slow-blue.png");
    KZImageLoader loader;
    auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});

    // An older slow request finishing after a newer fast one changes nothing.
    loader.setImage(view, server.url("/slow-red.png"), placeholder);
    ASSERT_TRUE(pumpUntil([&] { return server.requests("/slow-red.png") == 1; }));
    loader.setImage(view, server.url("/blue.png"), placeholder);
    ASSERT_TRUE(pumpUntil([&] { return view->image().pixelWidth() == 5; }));
    server.release("/slow-red.png");
    ASSERT_TRUE(settle(loader));
    EXPECT_EQ(view->image().pixelAt(0, 0), kit::Color::fromHex(0x0000FF));

    // An older request finishing first does not show while the newer one is running.
    server.hold("/slow-red.png");
    auto second = kit::Image::filled(1, 1, kit::Color::white());
    loader.setImage(view, server.url("/slow-red.png"), placeholder);
    loader.setImage(view, server.url("/slow-blue.png"), second);
    ASSERT_TRUE(pumpUntil([&] { return server.requests("/slow-blue.png") == 1; }));
    server.release("/slow-red.png");
    ASSERT_TRUE(pumpUntil([&] { return loader.pendingCount() <= 1; }));
    EXPECT_TRUE(view->image().sharesPixelsWith(second));
    server.release("/slow-blue.png");
    ASSERT_TRUE(settle(loader));
    EXPECT_EQ(view->image().pixelWidth(), 5);

    // A later request without an address also supersedes a running one.
    server.hold("/slow-red.png");
    loader.setImage(view, server.url("/slow-red.png"), placeholder);
    loader.setImage(view, "", second);
    server.release("/slow-red.png");
    ASSERT_TRUE(settle(loader));
    EXPECT_TRUE(view->image().sharesPixelsWith(second));
}

TEST_F(ImageLoaderTest, OversizedBodiesAreRefusedAndAViewGoneMeanwhileIsLeftAlone) {
    LocalImageServer server;
    server.respond("/big.png", 200, bluePng);
    server.respond("/red.png", 200, redPng);
    server.hold("/red.png");
    KZImageLoader::Options options;
    options.maximumBytes = 16;
    KZImageLoader loader(options);
    auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    loader.setImage(view, server.url("/big.png"), placeholder);
    ASSERT_TRUE(settle(loader));
    EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));
    loader.setImage(view, dataAddress(bluePng), placeholder);
    ASSERT_TRUE(settle(loader));
    EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));

    KZImageLoader roomy;
    {
        auto shortLived = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
        roomy.setImage(shortLived, server.url("/red.png"), placeholder);
        ASSERT_TRUE(pumpUntil([&] { return server.requests("/red.png") == 1; }));
    }
    server.release("/red.png");
    EXPECT_TRUE(settle(roomy));
}

TEST_F(ImageLoaderTest, PicturesTooLargeToDrawAreRefusedWithALogLineBeforeTheirPixelsTakeMemory) {
    struct Case {
        std::uint32_t width, height;
        bool shown;
        int shownWidth;  // in a view of 10 x 10 points
    };
    const int side = KZImageLoader::targetForView(*kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10})).width;
    const Case cases[] = {
        {40000, 1, false, 0},      // wider than the drawing library's surfaces: used to crash
        {1, 32768, false, 0},      // one taller than that
        {12000, 12000, false, 0},  // 144 megapixels, over the budget: used to take about 1 GB
        {32767, 1, true, 32767},   // the widest picture that can be drawn, as tall as one pixel
        {6000, 6000, true, side},  // 36 megapixels, within the budget, decoded at the view's size
    };
    KZImageLoader loader;
    for (const auto& c : cases) {
        const std::string png = greyPng(c.width, c.height);
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + std::to_string(png.size()) +
                     " bytes");
        env.log().clear();
        const bool measured = resetPeakResident();
        const long before = peakResidentKiB();
        auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
        loader.setImage(view, dataAddress(png), placeholder);
        ASSERT_TRUE(settle(loader));
        const long grown = peakResidentKiB() - before;
        const std::string size = std::to_string(c.width) + " x " + std::to_string(c.height) + " pixels";
        if (c.shown) {
            EXPECT_EQ(view->image().pixelWidth(), c.shownWidth);
            EXPECT_EQ(view->image().pixelAt(c.shownWidth - 1, view->image().pixelHeight() - 1), kit::Color::black());
            EXPECT_FALSE(env.log().contains("[Image] refused"));
        } else {
            EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));
            EXPECT_EQ(env.log().count("[Image] refused data:image/png;base64,"), 1u);
            EXPECT_TRUE(env.log().contains("image too large: " + size)) << ::testing::PrintToString(env.log().lines());
            // The pixels were never allocated (the compressed data and its copies are a few MB).
            if (measured) {
                EXPECT_LT(grown, 48 * 1024) << "KiB";
            }
        }
    }

    // The budget is the loader's: a small one refuses a small picture, at its edge exactly.
    KZImageLoader::Options options;
    options.maximumPixels = 100;
    KZImageLoader tight(options);
    auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    tight.setImage(view, dataAddress(pngOf(10, 10, kit::Color::white())), placeholder);
    ASSERT_TRUE(settle(tight));
    EXPECT_EQ(view->image().pixelWidth(), 10);
    tight.setImage(view, dataAddress(pngOf(10, 11, kit::Color::white())), placeholder);
    ASSERT_TRUE(settle(tight));
    EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));
    EXPECT_TRUE(env.log().contains("image too large: 10 x 11 pixels"));
}

// An SVG document showing one embedded picture (as a data address, or through an entity).
std::string svgShowing(const std::string& address, bool throughEntity = false, int copies = 1) {
    std::string svg =
        throughEntity ? "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [<!ENTITY picture \"" + address + "\">]>\n" : "";
    svg +=
        R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="64" height="64">)";
    for (int i = 0; i < copies; ++i)
        svg += R"(<image width="64" height="64" xlink:href=")" + (throughEntity ? std::string("&picture;") : address) +
               R"("/>)";
    return svg + "</svg>";
}

TEST_F(ImageLoaderTest, HostilePicturesStayWithinTheMemoryBudget) {
    const std::string huge = dataAddress(greyPng(8000, 8000));
    const std::string megapixel = dataAddress(greyPng(1000, 1000));
    struct Case {
        const char* what;
        std::string address;
        const char* refusal;  // nullptr: shown
    };
    const Case cases[] = {
        {"8000 x 8000 PNG", huge, nullptr},
        {"8000 x 8000 interlaced PNG", dataAddress(greyPng(8000, 8000, true)), nullptr},
        {"SVG embedding the 8000 x 8000 PNG", dataAddress(svgShowing(huge), "image/svg+xml"),
         "image too large: embedded pictures of 64000000 pixels"},
        {"SVG embedding it through an entity", dataAddress(svgShowing(huge, true), "image/svg+xml"),
         "image too large: embedded pictures of 64000000 pixels"},
        {"SVG embedding an SVG embedding it",
         dataAddress(svgShowing(dataAddress(svgShowing(huge), "image/svg+xml")), "image/svg+xml"),
         "image too large: embedded pictures of 64000000 pixels"},
        {"SVG embedding a megapixel twenty times", dataAddress(svgShowing(megapixel, false, 20), "image/svg+xml"),
         "image too large: embedded pictures of 20000000 pixels"},
        {"40000 x 1 PNG", dataAddress(greyPng(40000, 1)), "image too large: 40000 x 1 pixels"},
        {"12000 x 12000 PNG", dataAddress(greyPng(12000, 12000)), "image too large: 12000 x 12000 pixels"},
    };
    KZImageLoader loader;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        env.log().clear();
        auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 40, 40});
        ASSERT_TRUE(resetPeakResident());
        const long before = peakResidentKiB();
        loader.setImage(view, c.address, placeholder);
        ASSERT_TRUE(settle(loader));
        EXPECT_LT(peakResidentKiB() - before, 64 * 1024) << "KiB at the peak";
        if (c.refusal) {
            EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));
            EXPECT_TRUE(env.log().contains(c.refusal)) << ::testing::PrintToString(env.log().lines());
        } else {
            EXPECT_EQ(view->image().pixelWidth(), KZImageLoader::targetForView(*view).width);
            EXPECT_EQ(view->image().size(), (kit::Size{40, 40}));
            EXPECT_EQ(view->image().pixelAt(5, 5), kit::Color::black());
        }
    }
}

// A picture names a local file or pipe through its document type: the check returns without
// opening it (a pipe nobody writes to would hold the image worker for good).
TEST_F(ImageLoaderTest, DocumentsNamingLocalFilesAreCheckedWithoutOpeningThem) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("svg-entities-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / "secret.txt";
    const fs::path pipe = folder / "pipe";
    std::ofstream(file) << "secret";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_OPEN | IN_ACCESS), 0);
    const std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg"><text>&x;</text></svg>)";
    struct Case {
        std::string document;
        bool refused;
    };
    const std::string pipeUrl = "file://" + pipe.string();
    const Case cases[] = {
        {"<!DOCTYPE svg [<!ENTITY x SYSTEM \"file://" + file.string() + "\">]>" + svg, true},
        {"<!DOCTYPE svg [<!ENTITY x SYSTEM \"" + pipeUrl + "\">]>" + svg, true},
        {"<!DOCTYPE svg [<!ENTITY x SYSTEM \"/proc/self/fd/0\">]>" + svg, true},
        {"<!DOCTYPE svg [<!ENTITY % p SYSTEM \"" + pipeUrl + "\"> %p;]><svg/>", true},
        {"<!DOCTYPE svg [<!ENTITY x PUBLIC \"-//x\" \"" + pipeUrl + "\">]>" + svg, true},
        // The usual document type names a subset outside: shown, the subset never read.
        {"<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" \"" + pipeUrl + "\"><svg/>", false},
        {"<!DOCTYPE svg SYSTEM \"file://" + file.string() + "\"><svg/>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        auto check = std::async(std::launch::async,
                                [&] { return kit::imagedecode::checkSvgEmbeddedPictures(c.document, 1 << 20); });
        if (check.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "the check waits on the pipe";
            ::close(::open(pipe.c_str(), O_WRONLY));  // lets it go
        }
        const auto status = check.get();
        EXPECT_EQ(!status, c.refused) << (status ? "" : status.error());
        char events[4096];
        EXPECT_LE(::read(watch, events, sizeof events), 0) << "a file in the folder was opened";
    }
    ::close(watch);
    fs::remove_all(folder);
}

TEST_F(ImageLoaderTest, PicturesAreDecodedAtTheSizeShownAndSharedPerAddressAndSize) {
    // Black on the left half, white on the right: sampled down, each half keeps its colour.
    auto halves = [](std::uint32_t x, std::uint32_t) -> std::uint8_t { return x < 300 ? 0 : 255; };
    const std::string red = pngOf(100, 100, kit::Color::fromHex(0xFF0000));
    struct Case {
        const char* what;
        std::string address;
        kit::Rect frame;
        kit::Color left, right;
    };
    const Case cases[] = {
        {"PNG",
         dataAddress(greyPng(600, 300, false, halves)),
         {0, 0, 30, 15},
         kit::Color::black(),
         kit::Color::white()},
        {"interlaced PNG",
         dataAddress(greyPng(600, 300, true, halves)),
         {0, 0, 30, 15},
         kit::Color::black(),
         kit::Color::white()},
        {"SVG with a small embedded picture",
         dataAddress(svgShowing(dataAddress(red)), "image/svg+xml"),
         {0, 0, 16, 16},
         kit::Color::fromHex(0xFF0000),
         kit::Color::fromHex(0xFF0000)},
        {"JPEG",
         dataAddress(
             [&] {
                 auto bytes =
                     kit::Image::filled(400, 200, kit::Color::fromHex(0x0000FF)).encode(kit::ImageFormat::Jpeg);
                 return std::string(bytes->begin(), bytes->end());
             }(),
             "image/jpeg"),
         {0, 0, 20, 10},
         kit::Color::fromHex(0x0000FF),
         kit::Color::fromHex(0x0000FF)},
    };
    KZImageLoader loader;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto view = kit::create<kit::ImageView>(c.frame);
        loader.setImage(view, c.address, placeholder);
        ASSERT_TRUE(settle(loader));
        const kit::Image& shown = view->image();
        const auto target = KZImageLoader::targetForView(*view);
        EXPECT_EQ(shown.pixelWidth(), target.width);
        EXPECT_EQ(shown.pixelHeight(), target.height);
        EXPECT_EQ(shown.size(), c.frame.size);
        auto near = [](kit::Color a, kit::Color b) {
            return std::abs(a.red - b.red) < 0.1 && std::abs(a.green - b.green) < 0.1 &&
                   std::abs(a.blue - b.blue) < 0.1 && a.alpha > 0.9;
        };
        EXPECT_TRUE(near(shown.pixelAt(1, target.height / 2), c.left));
        EXPECT_TRUE(near(shown.pixelAt(target.width - 2, target.height / 2), c.right));
    }

    // Views of one address at one size share a copy, with no second download; another size is
    // another copy; the copy goes with the last view showing it.
    const std::string address = dataAddress(greyPng(600, 300, false, halves));
    const std::size_t started = loader.startedCount();
    auto first = kit::create<kit::ImageView>(kit::Rect{0, 0, 30, 15});
    auto second = kit::create<kit::ImageView>(kit::Rect{0, 0, 30, 15});
    auto larger = kit::create<kit::ImageView>(kit::Rect{0, 0, 60, 30});
    loader.setImage(first, address, placeholder);
    ASSERT_TRUE(settle(loader));
    loader.setImage(second, address, placeholder);
    loader.setImage(larger, address, placeholder);
    ASSERT_TRUE(settle(loader));
    EXPECT_TRUE(second->image().sharesPixelsWith(first->image()));
    EXPECT_FALSE(larger->image().sharesPixelsWith(first->image()));
    EXPECT_EQ(loader.startedCount(), started + 2);
    EXPECT_EQ(loader.sharedPictureCount(), 2u);
    first.reset();
    second.reset();
    EXPECT_EQ(loader.sharedPictureCount(), 1u);
}

TEST_F(ImageLoaderTest, ALoaderGoingAwayCancelsItsRunningLoads) {
    LocalImageServer server;
    server.respond("/never.png", 200, redPng);
    server.hold("/never.png");
    bool called = false;
    {
        KZImageLoader loader;
        auto handle = loader.load(server.url("/never.png"), [&](const kit::Result<kit::Image>&) { called = true; });
        ASSERT_TRUE(pumpUntil([&] { return server.requests("/never.png") == 1; }));
    }
    // Getting here means the worker stopped although the server never answered.
    env.runUntilIdle();
    EXPECT_FALSE(called);
}

TEST_F(ImageLoaderTest, TheSharedLoaderServesTheImageViewCalls) {
    auto view = kit::create<kit::ImageView>(kit::Rect{0, 0, 10, 10});
    sd_setImageWithURL(view, dataAddress(redPng), placeholder);
    EXPECT_TRUE(view->image().sharesPixelsWith(placeholder));
    ASSERT_TRUE(pumpUntil([&] { return KZImageLoader::shared().pendingCount() == 0 && view->image().pixelWidth() == 3; }));
    sd_setImageWithURL(view, "");
    EXPECT_TRUE(view->image().isNull());
}

}  // namespace

// Tokens dropped on the main thread at every stage of a download (connecting, waiting for the
// answer, reading) must leave nothing behind; under the sanitizers a cancellation racing the
// worker's socket sources showed up as a leak at exit.
TEST_F(ImageLoaderTest, LoadsDroppedAtAnyStageSettleAndLeakNothing) {
    LocalImageServer server;
    server.respond("/red.png", 200, redPng);
    server.respond("/held.png", 200, redPng);
    server.hold("/held.png");
    KZImageLoader loader;
    int completed = 0;
    for (int round = 0; round < 1500; ++round) {
        auto fast = loader.load(server.url("/red.png"), [&](const kit::Result<kit::Image>&) { ++completed; });
        auto held = loader.load(server.url("/held.png"), [&](const kit::Result<kit::Image>&) { ++completed; });
        // Vary the moment of the drop so it meets the worker in different states.
        for (int spin = 0; spin < round % 7; ++spin) std::this_thread::sleep_for(std::chrono::microseconds(50));
        fast.reset();
        held.reset();
    }
    ASSERT_TRUE(settle(loader));
    EXPECT_EQ(completed, 0);
}
