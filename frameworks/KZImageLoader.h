#pragma once
// Loads images from addresses for image views, in place of the usual web-image library. A view
// shows its placeholder at once and the loaded image once it has arrived; the latest request for
// a view wins; a failed load leaves the placeholder. Only http, https and data addresses are
// fetched; a picture too large to draw is refused with a log line. Downloading and decoding run on
// a worker thread; results are set on the main run loop of the moment the request was made.
//
// Pictures cost what they show: each is decoded at most at the size it is shown (the view's size
// times the screen's scale), and views showing the same address at the same size share one
// decoded copy while any of them holds it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/ui/Image.h"

namespace kit {
class ImageView;
class View;
}

class KZImageLoader {
public:
    using Completion = std::function<void(kit::Result<kit::Image>)>;

    struct Options {
        // No byte for this long ends a download.
        unsigned timeoutSeconds = 30;
        // Larger bodies are refused, so a hostile server cannot fill the memory.
        std::size_t maximumBytes = std::size_t{32} << 20;
        // Larger pictures are refused before their pixels take memory (a few hundred bytes of
        // compressed data can describe gigabytes of pixels). Pictures wider or taller than the
        // drawing library can hold are always refused.
        std::int64_t maximumPixels = 64'000'000;
        // The size, in pixels, of a load for no view, and of a view not laid out yet.
        int defaultPixelSide = 512;
    };
    // The pixels a picture is decoded at, at most (0 x 0: the loader's default), and its scale.
    struct PixelTarget {
        int width = 0;
        int height = 0;
        double scale = 1;
    };

    KZImageLoader();
    explicit KZImageLoader(Options options);
    // Cancels the running loads and waits for the worker thread.
    ~KZImageLoader();
    KZImageLoader(const KZImageLoader&) = delete;
    KZImageLoader& operator=(const KZImageLoader&) = delete;

    // The process's loader.
    static KZImageLoader& shared();

    // Shows `placeholder` in the view (a null image clears it), then the image at `address` once
    // loaded. An empty or unsupported address only shows the placeholder. Supersedes the view's
    // earlier request.
    void setImage(const std::shared_ptr<kit::ImageView>& view, std::string_view address, kit::Image placeholder = {});
    // Forgets the view's running request; the view keeps what it shows.
    void cancel(const kit::View& view);

    // Loads an image; `completion` runs on the main run loop unless the returned handle has been
    // released first (which also stops the download).
    [[nodiscard]] std::shared_ptr<void> load(std::string_view address, Completion completion);
    [[nodiscard]] std::shared_ptr<void> load(std::string_view address, PixelTarget target, Completion completion);
    // What a view shows a picture at: its size times the scale of its window's screen (or the
    // largest scale of any screen when it has no window).
    static PixelTarget targetForView(const kit::View& view);

    // http, https or data (the scheme, case-insensitively).
    static bool isFetchableAddress(std::string_view address);

    // Requests whose results have not yet come back to the main loop.
    std::size_t pendingCount() const;
    // Requests handed to the worker since the loader was made.
    std::size_t startedCount() const;
    // Decoded pictures still held by someone, one per address and size.
    std::size_t sharedPictureCount() const;

private:
    struct State;
    struct Worker;
    std::shared_ptr<State> state_;
    std::unique_ptr<Worker> worker_;
};

// The web-image library's image-view calls, on the shared loader.
void sd_setImageWithURL(const std::shared_ptr<kit::ImageView>& view, std::string_view url);
void sd_setImageWithURL(const std::shared_ptr<kit::ImageView>& view, std::string_view url, kit::Image placeholder);
