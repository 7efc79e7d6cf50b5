// The AI web view's downloads: addresses it saves instead of navigating to, new windows it turns
// into tool-window tabs, the save panel that hands a saved file to the user, and the open panel
// that answers the page's file input.

#include <algorithm>
#include <array>
#include <regex>
#include <system_error>

#include "app/web/KZAIWebServices.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZBaseWebViewReportHelper.h"
#include "app/web/KZDownloadFolder.h"
#include "app/web/KZSharedWebData.h"
#include "app/web/KZWKWebView.h"
#include "kit/base/Log.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/Workspace.h"
#include "kit/ui/Application.h"
#include "kit/ui/Panels.h"
#include "kit/ui/Window.h"
#include "kit/web/Url.h"

namespace {

// Tested in this order, as written: some carry a dot, some do not.
constexpr std::array<std::string_view, 11> kDownloadSuffixes{".zip", ".pdf", ".doc", ".txt", ".ppt", "pptx",
                                                            ".xlsx", ".xls", "png", "jpg", "jpeg"};
// The file name (not an image resource) of a saved picture when the page suggests none.
constexpr const char* kDefaultSavedImageBaseName = "DefaultImage";
// Panels one view may have up or waiting: a page cannot stack more; later files stay in the
// download folder without a panel.
constexpr int kMaxPendingPanels = 4;

bool endsWithDownloadSuffix(std::string_view text) {
    return std::any_of(kDownloadSuffixes.begin(), kDownloadSuffixes.end(),
                       [&](std::string_view suffix) { return text.ends_with(suffix); });
}


int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string fileSystemPathText(const std::filesystem::path& path) { return path.string(); }

// Answers the page's file input exactly once: with the files given, or with nothing when the
// answer is dropped (the view went away, the panel never ran).
class OpenPanelAnswer {
public:
    using Completion = std::function<void(std::optional<std::vector<std::string>>)>;
    explicit OpenPanelAnswer(Completion completion) : completion_(std::move(completion)) {}
    ~OpenPanelAnswer() { answer(std::nullopt); }
    OpenPanelAnswer(const OpenPanelAnswer&) = delete;
    OpenPanelAnswer& operator=(const OpenPanelAnswer&) = delete;

    void answer(std::optional<std::vector<std::string>> files) {
        if (!completion_) return;
        Completion completion = std::move(completion_);
        completion_ = nullptr;
        completion(std::move(files));
    }

private:
    Completion completion_;
};

}  // namespace

// One download's delegate (the platform's URL session with the view as its delegate). It holds
// the view weakly and is released by the view when its task completes.
class KZAIWebViewDownloadSession : public kit::DownloadDelegate {
public:
    explicit KZAIWebViewDownloadSession(std::weak_ptr<KZAIWebView> view) : view_(std::move(view)) {}

    void downloadDidFinishDownloadingTo(kit::DownloadTask& task, const std::filesystem::path& location) override {
        if (auto view = view_.lock()) placementError_ = view->URLSessionDidFinishDownloadingTo(task, location);
    }
    void downloadDidComplete(kit::DownloadTask& task, const std::optional<kit::WebError>& error) override {
        auto view = view_.lock();
        if (!view) return;
        // A transfer whose file the user cannot get is a failed download.
        view->URLSessionDidComplete(task, error ? error : placementError_);
        // Released on a later turn: this call is still running on it.
        std::weak_ptr<KZAIWebView> weak = view;
        const KZAIWebViewDownloadSession* self = this;
        kit::RunLoop::main().post([weak, self] {
            auto owner = weak.lock();
            if (!owner) return;
            auto& sessions = owner->downloadSessions_;
            sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                          [self](const auto& session) { return session.get() == self; }),
                           sessions.end());
        });
    }

private:
    std::weak_ptr<KZAIWebView> view_;
    std::optional<kit::WebError> placementError_;
};

// ---- Classification ----------------------------------------------------------------------------------

bool KZAIWebView::isImageDataAddress(const std::string& url) {
    const std::string lower = kit::asciiLowercase(url);
    return lower.starts_with("data:image") && lower.find(";base64,") != std::string::npos;
}

bool KZAIWebView::__canDownload(const std::string& url) {
    const std::string lower = kit::asciiLowercase(url);
    if (endsWithDownloadSuffix(lower)) return true;
    const std::size_t query = lower.find('?');
    return query != std::string::npos && endsWithDownloadSuffix(std::string_view(lower).substr(0, query));
}

std::string KZAIWebView::__extractImageFormatFromBase64String(const std::string& text) {
    // The expression can only match up to the first comma: looking at that much is enough, and
    // keeps a megabyte of image data away from the matcher.
    const std::size_t comma = text.find(',');
    const std::string head = text.substr(0, comma == std::string::npos ? std::min<std::size_t>(text.size(), 256) : comma + 1);
    static const std::regex expression(R"(^data:image/(\w+);base64,)");
    std::smatch match;
    if (std::regex_search(head, match, expression)) return match[1].str();
    return "png";
}

std::optional<std::vector<std::uint8_t>> KZAIWebView::__imageDataFromBase64String(const std::string& text) {
    // After the last "base64,", in any case: a capitalised marker must not leave the address's
    // own text in the image.
    const std::string lower = kit::asciiLowercase(text);
    const std::size_t marker = lower.rfind("base64,");
    const std::size_t start = marker == std::string::npos ? 0 : marker + 7;
    std::vector<std::uint8_t> bytes;
    bytes.reserve((text.size() - start) / 4 * 3);
    std::uint32_t group = 0;
    int count = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const int value = base64Value(static_cast<unsigned char>(text[i]));
        if (value < 0) continue;
        group = (group << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 16));
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
            bytes.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    if (count == 1) return std::nullopt;  // half a byte: not Base64
    if (count == 2) bytes.push_back(static_cast<std::uint8_t>(group >> 4));
    if (count == 3) {
        bytes.push_back(static_cast<std::uint8_t>(group >> 10));
        bytes.push_back(static_cast<std::uint8_t>(group >> 2));
    }
    if (bytes.empty()) return std::nullopt;
    return bytes;
}

// ---- Navigation and new windows ---------------------------------------------------------------------

bool KZAIWebView::divertNavigationAction(const kit::NavigationAction& action) {
    const std::string& url = action.request.url;
    if (isImageDataAddress(url)) {
        kit::logLine("[WebView] cancel base64 download");
        __startDownloadBase64Picture(url);
        return true;
    }
    if (__canDownload(url)) {
        kit::logLine("[WebView] cancel other download");
        __startDownloadWithURL(url);
        return true;
    }
    return false;
}

bool KZAIWebView::divertNewWindowAction(const kit::NavigationAction& action) {
    const std::string& url = action.request.url;
    const std::string lower = kit::asciiLowercase(url);
    if (isImageDataAddress(url)) {
        __startDownloadBase64Picture(url);
        return true;
    }
    if (__canDownload(url)) {
        __startDownloadWithURL(url);
        return true;
    }
    if (lower.find("openwith=mgr_image") != std::string::npos) {
        KZAIWebServices::showAIImageWindowControllerAndCreateNewTab();
        return true;
    }
    if (lower.find("openwith=mgr_document") != std::string::npos) {
        KZAIWebServices::showAIDocumentWindowControllerAndCreateNewTab(url);
        return true;
    }
    return false;
}

// ---- Images from data addresses ---------------------------------------------------------------------

void KZAIWebView::__startDownloadBase64Picture(const std::string& text) {
    const long length = KZAIWebView::utf16Length(text);
    kit::logf("[WebView] __startDownloadBase64Picture, string length -- %ld", length);
    _reportWebViewDidStartDownloadImage(length);

    const auto data = __imageDataFromBase64String(text);
    if (!data) {
        kit::logLine("[WebView] __startDownloadBase64Picture: nothing decodes, not saved");
        return;
    }
    std::string baseName = kDefaultSavedImageBaseName;
    if (auto d = aiDelegate()) {
        if (auto recommended = d->recommendedImageSaveNameForWebview(*this); recommended && !recommended->empty())
            baseName = *recommended;
    }
    const std::string format = __extractImageFormatFromBase64String(text);
    // The index is taken now, and the name is the first free one from it: an image asked for
    // while another waits gets a file of its own.
    const long firstIndex = saveImageIndex_;
    const auto nameAt = [&](long index) {
        return KZDownloadFolder::sanitizedFileName(baseName + "(" + std::to_string(index) + ")." + format);
    };

    bool written = false;
    std::filesystem::path path;
    if (auto folder = KZDownloadFolder::ensure()) {
        long used = firstIndex;
        auto reserved = KZDownloadFolder::reserveFreeName(*folder, [&](int attempt) {
            used = firstIndex + attempt - 1;
            return nameAt(used);
        });
        if (reserved) {
            path = *reserved;
            saveImageIndex_ = used + 1;
            const std::string_view bytes(reinterpret_cast<const char*>(data->data()), data->size());
            if (auto status = KZDownloadFolder::writeFileAtomically(path, bytes); !status) {
                kit::logf("[WebView] downloadBase64Picture: %s", status.error().c_str());
                std::error_code ignored;
                std::filesystem::remove(path, ignored);
            } else {
                written = true;
            }
            kit::logf("[WebView] downloadBase64Picture, finished: %s", fileSystemPathText(path).c_str());
        } else {
            kit::logf("[WebView] downloadBase64Picture: %s", reserved.error().c_str());
        }
    } else {
        kit::logf("[WebView] downloadBase64Picture: no download folder: %s", folder.error().c_str());
    }
    _reportWebViewDidEndDownloadImage(length, written);
    if (!written) return;
    savePanelWithFileName(path.filename().string(), path);
}

// ---- Files ------------------------------------------------------------------------------------------

void KZAIWebView::__startDownloadWithURL(const std::string& url) {
    _reportWebViewDidStartDownloadFile();
    __downloadWithURL(url);
}

void KZAIWebView::__downloadWithURL(const std::string& url) {
    kit::logf("[WebView] __downloadWithURL, url: %s", url.c_str());
    kit::UrlRequest request(url, kit::UrlRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData, kDownloadTimeout);
    auto session = std::make_shared<KZAIWebViewDownloadSession>(
        std::static_pointer_cast<KZAIWebView>(shared_from_this()));
    downloadSessions_.push_back(session);
    kit::DownloadTask::start(std::move(request), session);
}

std::optional<kit::WebError> KZAIWebView::URLSessionDidFinishDownloadingTo(const kit::DownloadTask& task,
                                                                           const std::filesystem::path& location) {
    kit::logf("[WebView] didFinishDownloadingToURL, location: %s", fileSystemPathText(location).c_str());
    const std::string& url = task.originalRequest().url;
    const auto& response = task.response();
    if (response && response->statusCode >= 400) {
        // The server's error page is not the file the user asked for.
        kit::logf("[WebView] didFinishDownloadingToURL: the server answered %d, nothing saved", response->statusCode);
        return kit::WebError{kit::kURLErrorDomain, kit::kURLErrorBadServerResponse,
                             "the server answered " + std::to_string(response->statusCode), url};
    }
    const std::string suggested = response ? response->suggestedFilename : std::string();
    // A name whose escapes do not decode is used as received.
    const std::string fileName =
        KZDownloadFolder::sanitizedFileName(KZDownloadFolder::removingPercentEncoding(suggested).value_or(suggested));
    const auto notPlaced = [&](const std::string& why) {
        kit::logf("[WebView] didFinishDownloadingToURL: %s", why.c_str());
        return kit::WebError{kit::kURLErrorDomain, kit::kURLErrorCannotCreateFile,
                             "cannot keep " + fileName + ": " + why, url};
    };
    auto folder = KZDownloadFolder::ensure();
    if (!folder) return notPlaced("no download folder: " + folder.error());
    // A file of its own while it waits ("report (2).pdf" beside a waiting "report.pdf"); the panel
    // still proposes the server's name.
    auto destination = KZDownloadFolder::reserveFreeName(
        *folder, [&](int attempt) { return KZDownloadFolder::numberedName(fileName, attempt); });
    if (!destination) return notPlaced(destination.error());
    if (auto status = KZDownloadFolder::moveReplacing(location, *destination); !status) {
        std::error_code ignored;
        std::filesystem::remove(*destination, ignored);
        return notPlaced(status.error());
    }
    savePanelWithFileName(fileName, *destination);
    return std::nullopt;
}

void KZAIWebView::URLSessionDidComplete(const kit::DownloadTask&, const std::optional<kit::WebError>& error) {
    kit::logf("[WebView] didCompleteWithError, error: %s", error ? error->description().c_str() : "(null)");
    _reportWebViewDidEndDownloadFile(error);
}

// ---- Panels -----------------------------------------------------------------------------------------

void KZAIWebView::savePanelWithFileName(const std::string& fileName, const std::filesystem::path& tempPath,
                                        std::function<void()> handler) {
    kit::logf("[WebView] savePanelWithFileName, fileName: %s, tempPath: %s", fileName.c_str(),
              fileSystemPathText(tempPath).c_str());
    if (panelsPending_ >= kMaxPendingPanels) {
        kit::logf("[WebView] savePanelWithFileName: %d panels are up or waiting; %s stays in the download folder",
                  panelsPending_, fileSystemPathText(tempPath).c_str());
        return;
    }
    auto panel = kit::SavePanel::make();
    panel->nameFieldStringValue = fileName;
    panelDidBegin();
    std::weak_ptr<KZAIWebView> weak = std::static_pointer_cast<KZAIWebView>(shared_from_this());
    // Offered: no clean-up (of this instance or another) removes it until the panel ends.
    auto offered = std::make_shared<KZDownloadFolder::OfferedFile>(tempPath);
    auto completion = [weak, panel, fileName, tempPath, offered,
                       handler = std::move(handler)](kit::ModalResponse response) {
        auto self = weak.lock();
        if (self) self->panelDidEnd();
        const auto& application = kit::Application::shared();
        const bool quitting = application.isTerminationRequestPending() || application.isTerminationRequested();
        if (response == kit::ModalResponses::Cancel && !quitting) {
            // The user does not want it: it does not wait for good. (A panel that went with its
            // window or with the application leaves it waiting; the clean-up at a later start
            // takes it.)
            std::error_code ignored;
            std::filesystem::remove(tempPath, ignored);
        }
        if (response != kit::ModalResponses::OK) return;
        kit::logf("[WebView] savePanelWithFileName, fileName: %s, Click OK", fileName.c_str());
        const std::filesystem::path chosen = panel->url();
        // A place the user chose: the mode the user's files get there, not the private one.
        if (auto status = KZDownloadFolder::moveReplacing(tempPath, chosen, kit::process::userFileMode()); !status) {
            // The file stays in the download folder, and whatever was at the chosen path stays.
            kit::logf("[WebView] savePanelWithFileName: %s", status.error().c_str());
        } else {
            kit::Workspace::shared().activateFileViewerSelectingURLs({chosen});
        }
        if (handler) handler();
    };
    // Begun on a later turn: a panel that runs modally must not run inside the web engine's call
    // that asked about a navigation.
    kit::RunLoop::main().post([weak, panel, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        panel->beginSheetModal(self->window(), std::move(completion));
    });
}

void KZAIWebView::panelDidBegin() {
    ++panelsPending_;
    isShowPanel_ = true;
}

void KZAIWebView::panelDidEnd() {
    panelsPending_ = std::max(0, panelsPending_ - 1);
    isShowPanel_ = panelsPending_ > 0;
}

void KZAIWebView::runOpenPanel(kit::WebView&, const kit::OpenPanelParameters&, const kit::FrameInfo&,
                               std::function<void(std::optional<std::vector<std::string>>)> completionHandler) {
    auto answer = std::make_shared<OpenPanelAnswer>(std::move(completionHandler));
    std::weak_ptr<KZAIWebView> weak = std::static_pointer_cast<KZAIWebView>(shared_from_this());
    kit::RunLoop::main().postAfter(kOpenPanelDelay, [weak, answer] {
        auto self = weak.lock();
        if (!self) return;  // the answer goes with the task: nothing chosen
        const std::string& root = self->rootURL();
        kit::logf("[WebView] runOpenPanel, origin url: %s", logText(root).c_str());
        auto panel = kit::OpenPanel::make();
        panel->canChooseFiles = true;
        panel->canChooseDirectories = false;
        panel->allowsMultipleSelection = false;
        const auto& shared = KZSharedWebData::shared();
        if (root.find("dorvaka/picture?") != std::string::npos) {
            panel->allowedFileTypes = shared.allowedImageTypes();
        } else if (root.find("dorvaka/file?") != std::string::npos) {
            panel->allowedFileTypes = shared.allowedDocumentTypes();
        } else if (auto latest = shared.latestReceivedAllowedTypes()) {
            panel->allowedFileTypes = *latest;
        }
        if (self->panelsPending_ >= kMaxPendingPanels) {
            kit::logf("[WebView] runOpenPanel: %d panels are up or waiting; the page gets no file",
                      self->panelsPending_);
            return;  // the answer goes with the task: nothing chosen
        }
        self->panelDidBegin();
        panel->beginSheetModal(self->window(), [weak, panel, answer](kit::ModalResponse response) {
            if (auto view = weak.lock()) view->panelDidEnd();
            if (response != kit::ModalResponses::OK || panel->urls().empty()) {
                answer->answer(std::nullopt);
                return;
            }
            answer->answer(std::vector<std::string>{KZDownloadFolder::fileURL(panel->url())});
        });
    });
}

// ---- Reports ----------------------------------------------------------------------------------------

void KZAIWebView::_reportWebViewDidStartDownloadImage(long length) {
    didStartDownloadImageDate_ = kit::RunLoop::main().now();
    _reportWithKey(24005, {reportAddress(), std::to_string(length)});
    kit::logf("[KZBaseWebView] WebViewDidStartDownloadImage: %ld", length);
}

void KZAIWebView::_reportWebViewDidEndDownloadImage(long length, bool written) {
    if (!didStartDownloadImageDate_) return;
    const long elapsed = KZBaseWebViewReportHelper::millisecondsSince(*didStartDownloadImageDate_);
    didStartDownloadImageDate_.reset();
    _reportWithKey(written ? 24006 : 24007, {reportAddress(), std::to_string(length), std::to_string(elapsed)});
    if (written) {
        kit::logf("[KZBaseWebView] WebViewDidFinishDownloadImage: %ld", length);
    } else {
        kit::logf("[KZBaseWebView] WebViewDidFailDownloadImage: %ld", length);
    }
}

void KZAIWebView::_reportWebViewDidStartDownloadFile() {
    didStartDownloadFileDate_ = kit::RunLoop::main().now();
    _reportWithKey(24008, {reportAddress()});
    kit::logLine("[KZBaseWebView] WebViewDidStartDownloadFile");
}

void KZAIWebView::_reportWebViewDidEndDownloadFile(const std::optional<kit::WebError>& error) {
    if (!didStartDownloadFileDate_) return;
    const std::string elapsed =
        std::to_string(KZBaseWebViewReportHelper::millisecondsSince(*didStartDownloadFileDate_));
    didStartDownloadFileDate_.reset();
    if (error) {
        _reportWithKey(24010, {reportAddress(), elapsed, error->domain, std::to_string(error->code)});
        kit::logf("[KZBaseWebView] WebViewDidFailDownloadFile: %s", error->description().c_str());
    } else {
        _reportWithKey(24009, {reportAddress(), elapsed});
        kit::logLine("[KZBaseWebView] WebViewDidFinishDownloadFile");
    }
}
