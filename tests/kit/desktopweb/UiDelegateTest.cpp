// The UI delegate over real pages: new windows, window.close(), the confirm, prompt and alert
// panels, and files dropped on a page.

#include <fstream>

#include "WebTestSupport.h"
#include "kit/ui/Window.h"
#include "tests/kit/desktopcapture/helpers/DragSourceProcess.h"

namespace kit::testing {
namespace {

using UiDelegateTest = WebEngineTest;

// What the drops on a page handed over, in order.
struct DropRecorder : WebUIDelegate {
    std::vector<std::string> dropped;
    void didDropFiles(WebView&, const std::vector<std::string>& paths) override {
        dropped.insert(dropped.end(), paths.begin(), paths.end());
    }
};

class RecordingUIDelegate : public WebUIDelegate {
public:
    std::vector<std::string> events;
    std::vector<NavigationAction> newWindowActions;
    // Made for new windows when set; refused otherwise.
    bool openWindows = false;
    std::vector<std::shared_ptr<WebView>> opened;
    bool confirmAnswer = true;
    std::optional<std::string> promptAnswer;
    // Answers panels on a later turn instead of at once.
    bool answerLater = false;

    std::shared_ptr<WebView> createWebView(WebView&, const WebViewConfiguration& configuration,
                                           const NavigationAction& action, const WindowFeatures&) override {
        newWindowActions.push_back(action);
        events.push_back("create " + action.request.url);
        if (!openWindows) return nullptr;
        auto view = create<WebView>(Rect{0, 0, 300, 200}, configuration);
        opened.push_back(view);
        return view;
    }
    void webViewDidClose(WebView&) override { events.push_back("close"); }
    void runJavaScriptAlertPanel(WebView&, const std::string& message, const FrameInfo& frame,
                                 std::function<void()> completionHandler) override {
        events.push_back("alert " + message);
        frames.push_back(frame);
        later([completionHandler] { completionHandler(); });
    }
    void runJavaScriptConfirmPanel(WebView&, const std::string& message, const FrameInfo&,
                                   std::function<void(bool)> completionHandler) override {
        events.push_back("confirm " + message);
        later([completionHandler, answer = confirmAnswer] { completionHandler(answer); });
    }
    void runJavaScriptTextInputPanel(WebView&, const std::string& prompt, const std::string& defaultText,
                                     const FrameInfo&, std::function<void(std::optional<std::string>)> completionHandler) override {
        events.push_back("prompt " + prompt + " [" + defaultText + "]");
        later([completionHandler, answer = promptAnswer] { completionHandler(answer); });
    }

    void runOpenPanel(WebView&, const OpenPanelParameters& parameters, const FrameInfo&,
                      std::function<void(std::optional<std::vector<std::string>>)> completionHandler) override {
        events.push_back("open panel");
        openPanels.push_back(parameters);
        later([completionHandler, answer = openPanelAnswer] { completionHandler(answer); });
    }

    std::vector<FrameInfo> frames;
    std::vector<OpenPanelParameters> openPanels;
    std::optional<std::vector<std::string>> openPanelAnswer;

private:
    void later(std::function<void()> answer) const {
        if (!answerLater) {
            answer();
            return;
        }
        g_idle_add(
            [](gpointer data) -> gboolean {
                std::unique_ptr<std::function<void()>> call(static_cast<std::function<void()>*>(data));
                (*call)();
                return G_SOURCE_REMOVE;
            },
            new std::function<void()>(std::move(answer)));
    }
};

TEST_F(UiDelegateTest, ANewWindowGetsTheViewTheDelegateMadeOrNothing) {
    server.page("/opener.html", "<title>opener</title>");
    server.page("/child.html", "<title>child window</title><script>window.childLoaded = true;</script>");
    WebViewConfiguration configuration;
    configuration.preferences.javaScriptCanOpenWindowsAutomatically = true;
    auto navigation = std::make_shared<RecordingNavigationDelegate>();
    auto ui = std::make_shared<RecordingUIDelegate>();
    auto view = makeWebView(navigation, ui, configuration);
    ASSERT_TRUE(loadAndWait(*view, server.url("/opener.html"), *navigation));

    // Refused: nothing opens and nothing is fetched.
    auto refused = evaluate(*view, "window.open('/child.html?refused') === null");
    ASSERT_TRUE(refused && refused->ok());
    EXPECT_EQ(**refused, Value(true));
    ASSERT_EQ(ui->newWindowActions.size(), 1u);
    EXPECT_EQ(ui->newWindowActions[0].request.url, server.url("/child.html?refused"));
    EXPECT_TRUE(ui->newWindowActions[0].targetsNewWindow);
    EXPECT_FALSE(ui->newWindowActions[0].targetsMainFrame);
    // What the application runs in the page counts as the user's doing; the page's own script
    // on load does not.
    EXPECT_TRUE(ui->newWindowActions[0].userGesture);
    server.page("/popper.html", "<title>popper</title><script>window.open('/child.html?popped');</script>");
    ASSERT_TRUE(loadAndWait(*view, server.url("/popper.html"), *navigation));
    ASSERT_TRUE(waitFor([&] { return ui->newWindowActions.size() == 2; }));
    EXPECT_EQ(ui->newWindowActions[1].request.url, server.url("/child.html?popped"));
    EXPECT_FALSE(ui->newWindowActions[1].userGesture);

    // Accepted: the new view shows the page, and the page can close it again.
    ui->openWindows = true;
    ASSERT_TRUE(evaluate(*view, "window.child = window.open('/child.html'); 0"));
    ASSERT_EQ(ui->opened.size(), 1u);
    auto child = ui->opened[0];
    auto childUi = std::make_shared<RecordingUIDelegate>();
    child->setUIDelegate(childUi);
    ASSERT_TRUE(waitFor([&] { return child->title() == "child window"; }));
    EXPECT_EQ(child->url(), server.url("/child.html"));
    EXPECT_EQ(server.count("/child.html"), 1);
    auto opened = evaluate(*child, "window.childLoaded === true && window.opener !== null");
    ASSERT_TRUE(opened && opened->ok());
    EXPECT_EQ(**opened, Value(true));

    ASSERT_TRUE(evaluate(*view, "window.child.close(); 0"));
    EXPECT_TRUE(waitFor([&] { return !childUi->events.empty(); }));
    EXPECT_EQ(childUi->events, (std::vector<std::string>{"close"}));
}

TEST_F(UiDelegateTest, PanelsGetThePagesTextAndGiveTheAnswerBack) {
    server.page("/panels.html", "<title>panels</title>");
    auto navigation = std::make_shared<RecordingNavigationDelegate>();
    auto ui = std::make_shared<RecordingUIDelegate>();
    auto view = makeWebView(navigation, ui);
    ASSERT_TRUE(loadAndWait(*view, server.url("/panels.html"), *navigation));

    for (bool answerLater : {false, true}) {
        SCOPED_TRACE(answerLater ? "answered later" : "answered at once");
        ui->answerLater = answerLater;
        ui->events.clear();

        ui->confirmAnswer = true;
        auto confirmed = evaluate(*view, "confirm('Delete it?')");
        ASSERT_TRUE(confirmed && confirmed->ok());
        EXPECT_EQ(**confirmed, Value(true));
        ui->confirmAnswer = false;
        auto declined = evaluate(*view, "confirm('Really?')");
        ASSERT_TRUE(declined && declined->ok());
        EXPECT_EQ(**declined, Value(false));

        ui->promptAnswer = "typed 'text'";
        auto typed = evaluate(*view, "prompt('Name?', 'default')");
        ASSERT_TRUE(typed && typed->ok());
        EXPECT_EQ(**typed, Value("typed 'text'"));
        ui->promptAnswer.reset();
        auto cancelled = evaluate(*view, "prompt('Again?')");
        ASSERT_TRUE(cancelled && cancelled->ok());
        EXPECT_EQ(**cancelled, Value());

        auto alerted = evaluate(*view, "alert('Hello'); 'after'");
        ASSERT_TRUE(alerted && alerted->ok());
        EXPECT_EQ(**alerted, Value("after"));

        EXPECT_EQ(ui->events, (std::vector<std::string>{"confirm Delete it?", "confirm Really?", "prompt Name? [default]",
                                                        "prompt Again? []", "alert Hello"}));
    }
    ASSERT_FALSE(ui->frames.empty());
    EXPECT_TRUE(ui->frames.back().isMainFrame);
    EXPECT_EQ(ui->frames.back().securityOrigin, server.url(""));
}

TEST_F(UiDelegateTest, WithoutAUIDelegateAlertsAreDismissedAndConfirmationsDeclined) {
    server.page("/panels.html", "<title>panels</title>");
    auto navigation = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(navigation);
    ASSERT_TRUE(loadAndWait(*view, server.url("/panels.html"), *navigation));
    auto result = evaluate(*view, "alert('x'); [confirm('y'), prompt('z')]");
    ASSERT_TRUE(result && result->ok());
    EXPECT_EQ(**result, Value(Array{Value(false), Value()}));
}

TEST_F(UiDelegateTest, AFileInputAsksForFilesThroughTheOpenPanel) {
    const auto folder = std::filesystem::temp_directory_path() / ("desktopweb-files-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto chosen = folder / "chosen file.png";
    { std::ofstream(chosen) << "png"; }
    server.page("/upload.html",
                "<html><body style='margin:0'><input id='f' type='file' accept='image/png'"
                " style='width:300px;height:80px'></body></html>");
    auto ui = std::make_shared<RecordingUIDelegate>();
    const auto shown = openPageWindow({300, 300, 400, 300}, ui, WindowStyleBorderless);
    const auto& view = shown.page;
    ASSERT_TRUE(loadAndWait(*view, server.url("/upload.html"), *shown.navigation));
    const unsigned long xid = mappedXWindow(*shown.window, *view);
    ASSERT_TRUE(xid);
    const std::string click = "xdotool mousemove --window " + std::to_string(xid) + " 60 40 click 1";
    auto fileName = [&] {
        auto name = evaluate(*view, "var f = document.getElementById('f'); f.files.length ? f.files[0].name : ''");
        return name && name->ok() ? **name : Value("?");
    };

    // Cancelled: nothing chosen.
    ASSERT_TRUE(g_spawn_command_line_sync(click.c_str(), nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(waitFor([&] { return ui->openPanels.size() == 1; }));
    pump(0.2);
    EXPECT_EQ(fileName(), Value(""));
    EXPECT_FALSE(ui->openPanels[0].allowsMultipleSelection);
    EXPECT_EQ(ui->openPanels[0].acceptedTypes, (std::vector<std::string>{"image/png"}));

    // Chosen, answered later, as an address.
    ui->answerLater = true;
    gchar* address = g_filename_to_uri(chosen.c_str(), nullptr, nullptr);
    ui->openPanelAnswer = std::vector<std::string>{address};
    g_free(address);
    ASSERT_TRUE(g_spawn_command_line_sync(click.c_str(), nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(waitFor([&] { return fileName() == Value("chosen file.png"); }));
    std::filesystem::remove_all(folder);
}

// A page's own drag names whatever the page wrote into it: dropped on a page, it hands the
// application no files (the page could name any file of the user's otherwise).
TEST_F(UiDelegateTest, APagesOwnDragOfFileAddressesDropsNoFiles) {
    server.page("/drag.html",
                "<html><body style='margin:0;height:100vh' ondragover='event.preventDefault()' "
                "ondrop='event.preventDefault();window.drops=(window.drops||0)+1'>"
                "<div id='handle' draggable='true' style='width:120px;height:60px;background:#36c' "
                "ondragstart=\"event.dataTransfer.setData('text/uri-list','file:///etc/hostname')\"></div>"
                "</body></html>");
    auto recorder = std::make_shared<DropRecorder>();
    const auto shown = openPageWindow({300, 200, 400, 400}, recorder);
    ASSERT_TRUE(loadAndWait(*shown.page, server.url("/drag.html"), *shown.navigation));
    pump(0.5);
    const std::string target = "--window " + std::to_string(desktop::xWindowFor(*shown.window));
    ASSERT_TRUE(runTool("xdotool mousemove " + target + " 40 30 mousedown 1"));
    for (int step = 1; step <= 12; ++step) {
        ASSERT_TRUE(runTool("xdotool mousemove " + target + " " + std::to_string(40 + 20 * step) + " " +
                            std::to_string(30 + 20 * step)));
        pump(0.05);
    }
    ASSERT_TRUE(runTool("xdotool mouseup 1"));
    const bool dropped = waitFor(
        [&] {
            auto drops = evaluate(*shown.page, "window.drops || 0");
            return drops && drops->ok() && **drops == Value(1);
        },
        10);
    ASSERT_TRUE(dropped) << "the page's own drag never reached its drop";
    pump(0.5);
    EXPECT_TRUE(recorder->dropped.empty()) << recorder->dropped.front();
    shown.window->orderOut();
}

// A drop from another program on a page that leaves drops alone: the delegate hears what was
// dropped (files as paths, other addresses as they came), and WebKit's own way with the drop
// (loading the first address in place of the page, or downloading it) never starts.
TEST_F(UiDelegateTest, ADropFromAnotherProgramIsHandedOverAndNeverLoaded) {
    const std::filesystem::path file = std::filesystem::path(::testing::TempDir()) / "dropped report.pdf";
    std::ofstream(file) << "%PDF-1.4 dropped";
    server.page("/plain.html",
                "<html><body style='margin:0;height:100vh;background:#eee'>no drop handling</body></html>");
    auto recorder = std::make_shared<DropRecorder>();
    const auto shown = openPageWindow({400, 100, 400, 400}, recorder);
    ASSERT_TRUE(loadAndWait(*shown.page, server.url("/plain.html"), *shown.navigation));
    gchar* escaped = g_uri_escape_string(file.c_str(), "/", FALSE);
    const std::string address = std::string("file://") + escaped;
    g_free(escaped);
    DragSourceProcess source(20, 100, "uri-list", {address, "https://elsewhere.example/page"});
    ASSERT_TRUE(waitFor([&] { return source.isReady(); }));
    pump(0.3);
    shown.navigation->actions.clear();
    const std::string target = "--window " + std::to_string(desktop::xWindowFor(*shown.window));
    ASSERT_TRUE(runTool("xdotool mousemove 120 200 mousedown 1 mousemove 135 215 mousemove 160 240"));
    for (int step = 1; step <= 10; ++step) {
        ASSERT_TRUE(runTool("xdotool mousemove " + target + " " + std::to_string(20 * step) + " " +
                            std::to_string(20 + 15 * step)));
        pump(0.05);
    }
    ASSERT_TRUE(runTool("xdotool mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return !recorder->dropped.empty(); })) << "the drop was never reported";
    // Long enough for a load WebKit would start.
    ASSERT_TRUE(waitFor([&] { return source.hasEndedADrag(); }));
    pump(1.0);
    EXPECT_EQ(recorder->dropped, (std::vector<std::string>{file.string(), "https://elsewhere.example/page"}));
    for (const auto& action : shown.navigation->actions)
        ADD_FAILURE() << "a load was asked for: " << action.request.url;
    EXPECT_EQ(shown.page->url(), server.url("/plain.html"));
    shown.window->orderOut();
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace kit::testing
