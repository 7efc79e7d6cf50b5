// Downloads, saved images, tool-window addresses and the open panel of the AI web view.

#include <dlfcn.h>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "app/web/KZAIWebView.h"
#include "app/web/KZDownloadFolder.h"
#include "app/web/KZWKWebView.h"
#include "kit/base/ProcessInfo.h"
#include "kit/headless/ScriptedDownloadService.h"
#include "kit/ui/Create.h"
#include "kit/ui/Panels.h"
#include "kit/ui/Window.h"
#include "tests/app/webview/WebViewTestSupport.h"

// Runs right after each successful rename(2) of this process while set: what another user with
// write access to the destination folder could do at that moment.
std::function<void(const char* to)> gAfterRename;

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): stands in for libc's own
extern "C" int rename(const char* from, const char* to) noexcept {
    static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
    const int result = real(from, to);
    if (result == 0 && gAfterRename) {
        const auto hook = gAfterRename;  // it may unset itself
        hook(to);
    }
    return result;
}

namespace {

namespace ModalResponses = kit::ModalResponses;
using kit::NavigationActionPolicy;
namespace fs = std::filesystem;

// "QUJD" is "ABC"; a page may split its data with line breaks.
constexpr const char* kPngData = "data:image/png;base64,QUJD\nREVG";
constexpr const char* kPageAddress = "https://ai.quarn.test/thirdParty/dorvaka/pmChat?version=6";

class NamingDelegate : public KZAIWebViewDelegate {
public:
    std::optional<std::string> recommendedImageSaveNameForWebview(KZAIWebView&) override { return name; }
    std::optional<std::string> name;
};

class KZAIWebViewDownloadsTest : public webtest::WebViewTest {
protected:
    KZAIWebViewDownloadsTest() {
        window = kit::create<kit::Window>(kit::Rect{0, 0, 400, 600}, kit::WindowStyleTitled);
        view = kit::create<KZAIWebView>(kit::Rect{0, 0, 400, 600});
        view->setDelegate(delegate);
        window->contentView()->addSubview(view);
        view->loadRequestWithURL(kPageAddress);
        pageOf(*view->webView()).completePendingLoad("Chat");
        env.runUntilIdle();
        HXReport::takeRecordedEvents();
    }

    kit::ScriptedWebEngine& page() { return pageOf(*view->webView()); }
    fs::path downloads() const { return env.home() / "Library/Caches/com.morvane.QuarnAIAssistant/downloads"; }
    kit::HeadlessBackend& backend() { return ui.backend(); }

    static std::string contents(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static unsigned mode(const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
    }
    // Every report made so far, as "key value", oldest first; forgets them.
    static std::vector<std::string> takeReports() {
        std::vector<std::string> out;
        for (const auto& event : HXReport::takeRecordedEvents())
            if (event.method == "reportCommonKeyValue") out.push_back(std::to_string(event.key) + " " + event.value);
        return out;
    }

    std::shared_ptr<NamingDelegate> delegate = std::make_shared<NamingDelegate>();
    std::shared_ptr<kit::Window> window;
    std::shared_ptr<KZAIWebView> view;
};

// ---- Classification ------------------------------------------------------------------------------

TEST_F(KZAIWebViewDownloadsTest, AddressesAreSavedInsteadOfNavigatedTo) {
    struct Case {
        const char* url;
        bool image;
        bool download;
    };
    const Case cases[] = {
        {"https://files.test/Q3/REPORT.PDF?token=abc", false, true},  // upper case, before the query
        {"https://files.test/letter.docx", false, false},             // docx is not a suffix
        {"https://files.test/imagepng", false, true},                 // "png" without a dot
        {"https://files.test/a.ZIP", false, true},
        {"https://files.test/book.xls", false, true},
        {"https://files.test/dir.pdf/?q=1", false, false},
        {"https://files.test/?name=a.pdf", false, true},  // the whole address ends in ".pdf"
        {"https://files.test/a.pdf#page=2", false, false},
        {kPngData, true, false},
        {"DATA:IMAGE/JPEG;BASE64,QUJD", true, false},
        {"data:text/plain;base64,QUJD", false, false},
        {"blob:https://ai.quarn.test/1234", false, false},  // the base view cancels these itself
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(KZAIWebView::isImageDataAddress(c.url), c.image);
        EXPECT_EQ(KZAIWebView::__canDownload(c.url), c.download);
        const std::size_t tasks = web.downloads().tasks().size();
        const std::size_t panels = backend().savePanelsRun;
        const auto policy = page().requestNavigation(c.url);
        const bool blob = std::string_view(c.url).starts_with("blob:");
        EXPECT_EQ(policy, (c.image || c.download || blob) ? NavigationActionPolicy::Cancel : NavigationActionPolicy::Allow);
        EXPECT_EQ(web.downloads().tasks().size(), tasks + (c.download ? 1 : 0));
        env.runUntilIdle();
        EXPECT_EQ(backend().savePanelsRun, panels + (c.image ? 1 : 0));
    }
    // The download asks past every cache, with a 10-second time-out, for the address as received.
    const auto& request = web.downloads().tasks().front()->originalRequest();
    EXPECT_EQ(request.url, "https://files.test/Q3/REPORT.PDF?token=abc");
    EXPECT_EQ(request.cachePolicy, kit::UrlRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData);
    EXPECT_EQ(request.timeoutInterval, 10.0);
    EXPECT_EQ(view->webView()->url(), kPageAddress);
}

TEST_F(KZAIWebViewDownloadsTest, NewWindowsAreDispatchedInOrder) {
    std::vector<std::string> opened;
    KZAIWebServices::setShowImageWindowHandler([&] { opened.push_back("image"); });
    KZAIWebServices::setShowDocumentWindowHandler([&](const std::string& url) { opened.push_back("document " + url); });
    struct Case {
        const char* url;
        const char* expected;        // "image data", "download", a tool window, or "browser"; "" for nothing
        const char* page = nullptr;  // the page now shown, when it changes
        bool click = true;           // asked for on a click of the user's
        double after = 0;            // seconds before the request
    };
    const Case cases[] = {
        {"data:image/png;base64,QUJD#openwith=mgr_image", "image data"},
        {"https://ai.quarn.test/x.pdf?openwith=mgr_image", "download"},
        {"https://ai.quarn.test/picture?openwith=mgr_image&b=openwith=mgr_document", "image"},
        {"https://ai.quarn.test/File?OpenWith=MGR_DOCUMENT",
         "document https://ai.quarn.test/File?OpenWith=MGR_DOCUMENT"},
        {"https://example.test/news", "browser"},
        // The service's pages open windows with or without a click, one after the other.
        {"https://example.test/later", "browser", nullptr, false},
        {"https://ai.quarn.test/y.pdf", "download", nullptr, false},
        // Another site's page (the side window follows links anywhere) asks for nothing by itself.
        {"https://ad.test/1", "", "https://popups.test/", false},
        {"https://ad.test/report.pdf", "", nullptr, false},
        {"data:image/png;base64,QUJD", "", nullptr, false},
        {"https://ai.quarn.test/picture?openwith=mgr_image", "", nullptr, false, 5},
        // On the user's click it gets one, then no other within a second.
        {"https://popups.test/a", "browser"},
        {"https://popups.test/b.pdf", "", nullptr, true, 0.5},
        {"https://popups.test/c.pdf", "download", nullptr, true, 0.6},
        {"https://popups.test/d", "", nullptr, true, 0.2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        if (c.page) {
            view->loadRequestWithURL(c.page);
            page().completePendingLoad("Other");
            env.runUntilIdle();
        }
        env.advance(c.after);
        opened.clear();
        env.workspace().clearRecords();
        const std::size_t tasks = web.downloads().tasks().size();
        const std::size_t panels = backend().savePanelsRun;
        EXPECT_EQ(page().openNewWindow(c.url, kit::NavigationType::LinkActivated, c.click), nullptr);
        env.runUntilIdle();
        std::string outcome;
        if (backend().savePanelsRun > panels) outcome = "image data";
        if (web.downloads().tasks().size() > tasks) outcome += "download";
        if (!opened.empty()) outcome += opened.front();
        if (!env.workspace().openedURLs().empty()) outcome += "browser";
        EXPECT_EQ(outcome, c.expected);
    }
    EXPECT_EQ(env.log().count("[WebView] new window dropped, not asked for by the user"), 4u);
    EXPECT_EQ(env.log().count("[WebView] new window dropped, another one was opened just before"), 2u);
}

// ---- Saving images --------------------------------------------------------------------------------

TEST_F(KZAIWebViewDownloadsTest, ImagesTakeTheirIndexWhenAskedForAndSaveWithTheUsersMode) {
    const fs::path chosen = env.root() / "chosen";
    fs::create_directories(chosen);
    // An image of an earlier run still waits under the index's name: the next free one is taken.
    fs::create_directories(downloads());
    struct Step {
        const char* address;
        std::optional<std::string> baseName;
        bool save;
        mode_t userMask;  // the file-creation mask the user started the application with
        const char* expectedName;
        unsigned savedMode;
    };
    const Step steps[] = {
        {kPngData, std::nullopt, true, 022, "DefaultImage(1).png", 0644},
        {"data:image/jpeg;base64,QUJD", std::string(""), false, 022, "DefaultImage(2).jpeg", 0600},  // empty: default
        {"DATA:IMAGE/WEBP;BASE64,QUJD", std::string("Sunset"), true, 027, "Sunset(4).png", 0640},    // (3) taken: (4)
        {"data:image/svg+xml;base64,QUJD", std::string("../../evil"), true, 077, "_.._evil(5).png", 0600},
        {kPngData, std::nullopt, false, 022, "DefaultImage(6).png", 0600},
    };
    std::ofstream(downloads() / "Sunset(3).png") << "older";
    for (const auto& step : steps) {
        SCOPED_TRACE(step.expectedName);
        kit::process::setUserFileCreationMask(step.userMask);
        delegate->name = step.baseName;
        if (step.save) {
            ui.scriptSavePanel(ModalResponses::OK, chosen / step.expectedName);
        } else {
            ui.scriptSavePanel(ModalResponses::Cancel);
        }
        env.workspace().clearRecords();
        EXPECT_EQ(page().requestNavigation(step.address), NavigationActionPolicy::Cancel);
        EXPECT_TRUE(view->isShowPanel());
        env.runUntilIdle();
        EXPECT_FALSE(view->isShowPanel());
        ASSERT_FALSE(backend().panelsShown.empty());
        const auto& shown = backend().panelsShown.back();
        EXPECT_FALSE(shown.open);
        EXPECT_TRUE(shown.sheet);
        EXPECT_EQ(shown.nameFieldStringValue, step.expectedName);
        const fs::path cached = downloads() / step.expectedName;
        const fs::path saved = chosen / step.expectedName;
        EXPECT_FALSE(fs::exists(cached));  // moved where the user chose, or gone with its cancelled panel
        EXPECT_EQ(fs::exists(saved), step.save);
        if (step.save) {
            EXPECT_EQ(contents(saved), std::string("ABC").append(step.address == kPngData ? "DEF" : ""));
            EXPECT_EQ(mode(saved), step.savedMode);
        }
        EXPECT_EQ(env.workspace().openedURLs(),
                  step.save ? std::vector<std::string>{"file://" + chosen.string()} : std::vector<std::string>{});
    }
    kit::process::setUserFileCreationMask(022);
    EXPECT_EQ(contents(downloads() / "Sunset(3).png"), "older");
    EXPECT_EQ(mode(downloads()), 0700u);
    EXPECT_EQ(mode(downloads().parent_path()), 0700u);
    EXPECT_EQ(view->saveImageIndex(), 7);
}

TEST_F(KZAIWebViewDownloadsTest, ImageReportsAndFailures) {
    const std::string address = kPageAddress;
    // Written: start and finish (the length counts the platform's UTF-16 units).
    page().requestNavigation(std::string(kPngData) + "\xE6\x96\x87");
    env.runUntilIdle();
    EXPECT_EQ(takeReports(), (std::vector<std::string>{"24005 " + address + ";32", "24006 " + address + ";32;0"}));
    // Nothing decodes: only the start, no panel.
    const std::size_t panels = backend().savePanelsRun;
    page().requestNavigation("data:image/png;base64,!!!");
    page().requestNavigation("data:image/png;base64,Q");
    env.runUntilIdle();
    EXPECT_EQ(takeReports(), (std::vector<std::string>{"24005 " + address + ";25", "24005 " + address + ";23"}));
    EXPECT_EQ(backend().savePanelsRun, panels);
    // No folder to write into: the failure report, no panel.
    fs::remove_all(env.home() / "Library/Caches");
    std::ofstream(env.home() / "Library/Caches") << "not a folder";
    page().requestNavigation(kPngData);
    env.runUntilIdle();
    EXPECT_EQ(takeReports(), (std::vector<std::string>{"24005 " + address + ";31", "24007 " + address + ";31;0"}));
    EXPECT_EQ(backend().savePanelsRun, panels);
}

// ---- Downloading files ------------------------------------------------------------------------------

TEST_F(KZAIWebViewDownloadsTest, ServerNamesStayInsideThePrivateFolder) {
    struct Case {
        const char* suggested;
        const char* stored;
    };
    const Case cases[] = {
        {"../x", "_x"},
        {"/etc/passwd", "_etc_passwd"},
        {"a\nb", "a_b"},
        {"..", "download"},
        {"", "download"},
        {"%E6%8A%A5%E5%91%8A.pdf", "\xE6\x8A\xA5\xE5\x91\x8A.pdf"},
        {"a%2F..%2Fb.pdf", "a_.._b.pdf"},
        {"100%.pdf", "100%.pdf"},    // the escape does not decode: as received
        {"%FF%FE.txt", "%FF%FE.txt"},  // not UTF-8 once decoded: as received
    };
    // Each panel stays up a second, then is cancelled: what waits while it is offered, and what
    // is left after. (The page is never ready here: no error view reloads it meanwhile.)
    view->setShowsErrorViewIfAIWebReadyTimeout(false);
    backend().panelsStayUpFor = 1;
    struct Offered {
        std::string name, contents;
        unsigned mode = 0;
        bool leftAfter = true;
    };
    const auto offer = [&](const std::string& suggested) {
        Offered seen;
        ui.scriptSavePanel(ModalResponses::Cancel);
        kit::RunLoop::main().postAfter(0.5, [&] {
            if (backend().panelsShown.empty()) return;
            seen.name = backend().panelsShown.back().nameFieldStringValue;
            seen.contents = contents(downloads() / seen.name);
            seen.mode = mode(downloads() / seen.name);
        });
        page().requestNavigation("https://files.test/get.pdf");
        web.downloads().finish(*web.downloads().lastTask(), "%PDF-1.4", suggested);
        env.advance(2);
        env.runUntilIdle();
        seen.leftAfter = fs::exists(downloads() / seen.name);
        return seen;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.suggested);
        const Offered seen = offer(c.suggested);
        EXPECT_EQ(seen.name, c.stored);
        EXPECT_EQ(seen.contents, "%PDF-1.4");
        EXPECT_EQ(seen.mode, 0600u);
        EXPECT_FALSE(seen.leftAfter);
    }
    // Nothing escaped the folder, and nothing is left in it.
    EXPECT_FALSE(fs::exists(downloads().parent_path() / "x"));
    EXPECT_TRUE(fs::is_empty(downloads()));

    // Names longer than a file name may be, in Chinese and in Latin letters, are cut (not inside
    // a character) keeping their extension, and offered.
    for (const std::string unit : {"\xE6\x96\x87", "n"}) {
        for (const std::size_t bytes : {254, 255, 256, 400}) {
            std::string name;
            while (name.size() + unit.size() <= bytes - 4) name += unit;
            name += std::string(bytes - 4 - name.size(), 'n') + ".pdf";
            SCOPED_TRACE(std::to_string(bytes) + " bytes, " + unit);
            const Offered seen = offer(name);
            const std::string& offered = seen.name;
            ASSERT_GT(offered.size(), 4u);
            EXPECT_EQ(offered.size(), bytes <= 255 ? bytes : 255 - (unit.size() == 3 ? 2 : 0));
            EXPECT_TRUE(g_utf8_validate(offered.c_str(), static_cast<gssize>(offered.size()), nullptr));
            EXPECT_EQ(offered.substr(offered.size() - 4), ".pdf");
            EXPECT_EQ(name.compare(0, offered.size() - 4, offered, 0, offered.size() - 4), 0);
            EXPECT_EQ(seen.contents, "%PDF-1.4");
        }
    }
}

TEST_F(KZAIWebViewDownloadsTest, WaitingFilesKeepTheirOwnFilesAndPanelsTakeTurns) {
    // Seven answers under one name arrive before the user decides anything. Each panel stays up
    // for 5 seconds; the first two are saved, the next two cancelled.
    const fs::path chosen = env.root() / "chosen";
    fs::create_directories(chosen);
    backend().panelsStayUpFor = 5;
    ui.scriptSavePanel(ModalResponses::OK, chosen / "first.pdf");
    ui.scriptSavePanel(ModalResponses::OK, chosen / "second.pdf");
    for (int i = 1; i <= 7; ++i) {
        page().requestNavigation("https://files.test/report.pdf?n=" + std::to_string(i));
        web.downloads().finish(*web.downloads().lastTask(), "%PDF " + std::to_string(i), "report.pdf");
    }
    EXPECT_TRUE(view->isShowPanel());
    // While the second panel is up: the first was answered, two more wait their turn.
    std::vector<std::string> seen;
    kit::RunLoop::main().postAfter(7, [&] {
        seen.push_back(std::to_string(backend().panelsUp) + " up, " +
                       std::to_string(kit::SavePanel::waitingPanelCount()) + " waiting, " +
                       (view->isShowPanel() ? "showing" : "not showing"));
    });
    env.runUntilIdle();
    env.advance(30);
    EXPECT_EQ(seen, std::vector<std::string>{"1 up, 2 waiting, showing"});
    EXPECT_FALSE(view->isShowPanel());
    EXPECT_EQ(backend().maxPanelsUp, 1);
    // Four panels at most, each proposing the server's name; the rest wait without one.
    ASSERT_EQ(backend().panelsShown.size(), 4u);
    for (const auto& shown : backend().panelsShown) EXPECT_EQ(shown.nameFieldStringValue, "report.pdf");
    EXPECT_EQ(contents(chosen / "first.pdf"), "%PDF 1");
    EXPECT_EQ(contents(chosen / "second.pdf"), "%PDF 2");
    std::map<std::string, std::string> waiting;
    for (const auto& entry : fs::directory_iterator(downloads()))
        waiting[entry.path().filename()] = contents(entry.path());
    // The cancelled ones went with their panels; those that never got one wait.
    EXPECT_EQ(waiting, (std::map<std::string, std::string>{
                           {"report (5).pdf", "%PDF 5"}, {"report (6).pdf", "%PDF 6"}, {"report (7).pdf", "%PDF 7"}}));
    EXPECT_EQ(KZDownloadFolder::numberedName(std::string(251, 'n') + ".pdf", 12).size(), 255u);

    // At the next start, those older than a day go, each with a log line, unless a panel (of
    // this instance or another) still offers them.
    const auto age = [](const fs::path& path, std::time_t seconds) {
        const timespec times[2] = {{std::time(nullptr) - seconds, 0}, {std::time(nullptr) - seconds, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    };
    backend().panelsStayUpFor = 100;
    ui.scriptSavePanel(ModalResponses::Cancel);
    std::vector<std::string> left;
    kit::RunLoop::main().postAfter(1, [&] {
        EXPECT_TRUE(view->isShowPanel());
        age(downloads() / "report (5).pdf", std::time_t{25} * 3600);
        age(downloads() / "report (6).pdf", std::time_t{23} * 3600);
        age(downloads() / "offered.pdf", std::time_t{48} * 3600);
        env.log().clear();
        KZDownloadFolder::removeStaleFiles();
        for (const auto& entry : fs::directory_iterator(downloads())) left.push_back(entry.path().filename());
    });
    page().requestNavigation("https://files.test/offered.pdf");
    web.downloads().finish(*web.downloads().lastTask(), "%PDF offered", "offered.pdf");
    env.advance(2);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"offered.pdf", "report (6).pdf", "report (7).pdf"}));
    EXPECT_EQ(env.log().count("it waited more than a day for a save panel"), 1u);
    EXPECT_TRUE(env.log().contains("report (5).pdf"));
    env.advance(200);
}

TEST_F(KZAIWebViewDownloadsTest, DownloadReportsFollowTheirStartTime) {
    const std::string address = kPageAddress;
    const fs::path chosen = env.root() / "Report.pdf";
    std::ofstream(chosen) << "the user's older file";

    page().requestNavigation("https://files.test/Report.pdf");
    env.advance(1.5);
    ui.scriptSavePanel(ModalResponses::OK, chosen);
    web.downloads().finish(*web.downloads().lastTask(), "%PDF new", "Report.pdf");
    env.runUntilIdle();
    EXPECT_EQ(takeReports(), (std::vector<std::string>{"24008 " + address, "24009 " + address + ";1500"}));
    EXPECT_EQ(contents(chosen), "%PDF new");
    EXPECT_FALSE(fs::exists(downloads() / "Report.pdf"));

    // Two at once: the second start replaces the first; only the first completion reports.
    page().requestNavigation("https://files.test/a.zip");
    env.advance(0.25);
    page().requestNavigation("https://files.test/b.zip");
    env.advance(0.5);
    web.downloads().fail(*web.downloads().tasks()[1], kit::WebError{"NSURLErrorDomain", -1001, "timed out"});
    web.downloads().fail(*web.downloads().tasks()[2], kit::WebError{"", -1, "odd"});
    env.runUntilIdle();
    EXPECT_EQ(takeReports(), (std::vector<std::string>{"24008 " + address, "24008 " + address,
                                                       "24010 " + address + ";500;NSURLErrorDomain;-1001"}));

    // An error page from the server is no file, and a file that cannot be kept (the download
    // folder refused) is not the user's either: no panel, nothing kept, a failure reported.
    const std::size_t panels = backend().savePanelsRun;
    env.advance(0.25);
    page().requestNavigation("https://files.test/gone.pdf");
    env.advance(0.25);
    web.downloads().finish(*web.downloads().lastTask(), "<h1>Not Found</h1>", "gone.pdf", 404);
    env.runUntilIdle();
    EXPECT_FALSE(fs::exists(downloads() / "gone.pdf"));
    fs::remove_all(downloads());
    fs::create_directories(env.root() / "elsewhere");
    fs::create_directory_symlink(env.root() / "elsewhere", downloads());
    page().requestNavigation("https://files.test/kept.pdf");
    env.advance(0.5);
    web.downloads().finish(*web.downloads().lastTask(), "%PDF", "kept.pdf");
    env.runUntilIdle();
    EXPECT_EQ(backend().savePanelsRun, panels);
    EXPECT_TRUE(fs::is_empty(env.root() / "elsewhere"));
    EXPECT_EQ(takeReports(),
              (std::vector<std::string>{"24008 " + address, "24010 " + address + ";250;NSURLErrorDomain;-1011",
                                        "24008 " + address, "24010 " + address + ";500;NSURLErrorDomain;-3000"}));
    EXPECT_TRUE(env.log().contains("no download folder: cannot use " + downloads().string() + " as a private folder"))
        << ::testing::PrintToString(env.log().lines());
    // Every session was released.
    EXPECT_EQ(view->activeDownloadCount(), 0u);
}

// ---- The open panel and the declared types -----------------------------------------------------------

TEST_F(KZAIWebViewDownloadsTest, OpenPanelOffersTheDeclaredTypesAndAlwaysAnswersOnce) {
    auto& shared = KZSharedWebData::shared();
    const std::vector<std::string> images = KZSharedWebData::__defaultAllowImageTypes();
    const std::vector<std::string> documents = KZSharedWebData::__defaultAllowDocumentTypes();
    EXPECT_EQ(shared.latestReceivedAllowedTypes(), std::nullopt);
    shared.saveAllowedImageTypes({});  // ignored: no list, no time stamp
    EXPECT_EQ(shared.latestReceivedDate(), std::nullopt);
    shared.saveAllowedImageTypes({"png"});
    std::vector<std::string> drag{"png"};
    drag.insert(drag.end(), documents.begin(), documents.end());
    EXPECT_EQ(shared.supportedNativeDragTypes(), drag);

    struct Case {
        const char* root;
        double ageAtPanel;  // seconds since the declaration when the panel opens (after its 0.1 s)
        std::vector<std::string> types;
    };
    const Case cases[] = {
        {kPageAddress, 0.1, {"png"}},
        {kPageAddress, 2.9, {"png"}},
        {kPageAddress, 3.05, {}},  // too old: every type
        {"https://ai.quarn.test/thirdParty/dorvaka/picture?version=6", 9, {"png"}},
        {"https://ai.quarn.test/thirdParty/dorvaka/file?version=6", 0.1, documents},
    };
    const fs::path file = env.root() / "my notes.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.root) + " " + std::to_string(c.ageAtPanel));
        view->loadRequestWithURL(c.root);
        shared.saveAllowedImageTypes({"png"});
        env.advance(c.ageAtPanel - 0.1);
        ui.scriptOpenPanel(ModalResponses::OK, {file});
        page().runOpenPanel();
        env.advance(0.1);
        env.runUntilIdle();
        const auto& shown = backend().panelsShown.back();
        EXPECT_TRUE(shown.open && shown.sheet && shown.canChooseFiles && !shown.canChooseDirectories &&
                    !shown.allowsMultipleSelection);
        EXPECT_EQ(shown.allowedFileTypes, c.types);
        ASSERT_TRUE(page().lastOpenPanelAnswer().has_value());
        EXPECT_EQ(*page().lastOpenPanelAnswer(),
                  std::optional(std::vector<std::string>{"file://" + env.root().string() + "/my%20notes.txt"}));
    }
    EXPECT_EQ(images.size(), 5u);

    // Cancelled: an answer with nothing. The view gone before the panel: nothing, once.
    ui.scriptOpenPanel(ModalResponses::Cancel);
    page().runOpenPanel();
    EXPECT_FALSE(page().lastOpenPanelAnswer().has_value());
    env.advance(0.2);
    using Answer = std::optional<std::optional<std::vector<std::string>>>;
    EXPECT_EQ(page().lastOpenPanelAnswer(), Answer(std::optional<std::vector<std::string>>()));
    EXPECT_FALSE(view->isShowPanel());

    int answers = 0;
    const std::size_t panels = backend().openPanelsRun;
    {
        auto webView = view->webView();
        page().runOpenPanel({}, [&](const std::optional<std::vector<std::string>>& files) {
            ++answers;
            EXPECT_FALSE(files.has_value());
        });
        window.reset();
        view.reset();
    }
    env.advance(1);
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(backend().openPanelsRun, panels);
}

// ---- The private folder --------------------------------------------------------------------------------

TEST_F(KZAIWebViewDownloadsTest, FolderIsMadePrivateAndMovesNeverLoseTheOldFile) {
    const fs::path bundle = downloads().parent_path();
    fs::create_directories(downloads());
    fs::permissions(bundle, fs::perms::all);
    fs::permissions(downloads(), fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    auto folder = KZDownloadFolder::ensure();
    ASSERT_TRUE(folder.ok()) << folder.error();
    EXPECT_EQ(*folder, downloads());
    EXPECT_EQ(mode(bundle), 0700u);
    EXPECT_EQ(mode(downloads()), 0700u);

    // The caches reached through a link the user made: the same folder, the same rule.
    const fs::path caches = env.home() / "Library/Caches";
    fs::rename(caches, env.root() / "my-caches");
    fs::create_directory_symlink(env.root() / "my-caches", caches);
    ASSERT_TRUE(KZDownloadFolder::ensure().ok());
    EXPECT_TRUE(fs::is_directory(env.root() / "my-caches/com.morvane.QuarnAIAssistant/downloads"));

    // A link in its place is refused, not followed.
    fs::remove_all(downloads());
    fs::create_directories(env.root() / "elsewhere");
    fs::create_directory_symlink(env.root() / "elsewhere", downloads());
    EXPECT_FALSE(KZDownloadFolder::ensure().ok());

    // A move that cannot happen leaves the destination as it was.
    const fs::path destination = env.root() / "kept.txt";
    std::ofstream(destination) << "precious";
    EXPECT_FALSE(KZDownloadFolder::moveReplacing(env.root() / "missing.txt", destination).ok());
    EXPECT_EQ(contents(destination), "precious");
    ASSERT_TRUE(KZDownloadFolder::writeFileAtomically(env.root() / "new.txt", "fresh").ok());
    ASSERT_TRUE(KZDownloadFolder::moveReplacing(env.root() / "new.txt", destination).ok());
    EXPECT_EQ(contents(destination), "fresh");
    EXPECT_EQ(mode(destination), 0600u);

    // A link swapped in as soon as the file is in place: the file it names keeps its mode, and the
    // moved file (now beside it) has the mode asked for.
    const fs::path victim = env.root() / "victim.txt";
    std::ofstream(victim) << "someone's";
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
    gAfterRename = [&](const char* to) {
        if (to != destination) return;
        gAfterRename = nullptr;
        fs::rename(destination, env.root() / "displaced.txt");
        fs::create_symlink(victim, destination);
    };
    ASSERT_TRUE(KZDownloadFolder::writeFileAtomically(env.root() / "shared.txt", "shared").ok());
    EXPECT_TRUE(KZDownloadFolder::moveReplacing(env.root() / "shared.txt", destination, 0644).ok());
    gAfterRename = nullptr;
    EXPECT_EQ(mode(victim), 0600u);
    EXPECT_EQ(mode(env.root() / "displaced.txt"), 0644u);
}

}  // namespace
