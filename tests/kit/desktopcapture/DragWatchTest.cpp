// The global drag watch against drags that another process starts (a small GTK drag source),
// driven with xdotool.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CaptureTestSupport.h"
#include "kit/desktop/dnd/DragWatch.h"
#include "kit/sys/GlobalDragMonitor.h"
#include "tests/kit/desktopcapture/helpers/DragSourceProcess.h"

namespace kit::testing {
namespace {

class DragWatchTest : public CaptureDesktopTest {
protected:
    void SetUp() override {
        CaptureDesktopTest::SetUp();
        if (IsSkipped()) return;
        watch_ = dynamic_cast<desktop::DragWatch*>(&GlobalDragMonitor::shared());
        if (!watch_) GTEST_SKIP() << "the X server has no XFixes extension: the drag watch is not installed";
        watch_->start([this](const GlobalDragEvent& event) { events_.push_back(event); });
        folder_ = std::filesystem::temp_directory_path() / ("kit-drag-watch-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
    }

    void TearDown() override {
        if (!watch_) return;
        runTool("xdotool mouseup 1");
        watch_->stop();
        std::filesystem::remove_all(folder_);
    }

    std::string makeFile(const std::string& name) {
        const auto path = folder_ / name;
        std::ofstream(path) << "contents";
        return path.string();
    }

    static std::string uriOf(const std::string& path) {
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        std::string result = uri ? uri : "";
        g_free(uri);
        return result;
    }

    // Presses on the source's window (at 100, 100) and drags out of it.
    static void beginDragFromSource() {
        ASSERT_TRUE(runTool("xdotool mousemove 200 200 mousedown 1 mousemove 215 215 mousemove 240 240 mousemove 400 400"));
    }

    std::size_t count(GlobalDragEvent::Type type) const {
        std::size_t n = 0;
        for (const auto& event : events_) n += event.type == type;
        return n;
    }

    desktop::DragWatch* watch_ = nullptr;
    std::vector<GlobalDragEvent> events_;
    std::filesystem::path folder_;
};

TEST_F(DragWatchTest, AFileDragInAnotherApplicationIsSeenWithItsPathThenFollowedToItsEnd) {
    const std::string path = makeFile("quarterly report.pdf");
    DragSourceProcess source(100, 100, "uri-list", {uriOf(path)});
    ASSERT_TRUE(waitFor([&] { return source.isReady(); }));
    EXPECT_TRUE(watch_->isRunning());

    beginDragFromSource();
    ASSERT_TRUE(waitFor([&] { return !events_.empty(); })) << "no drag seen";
    const GlobalDragEvent first = events_.front();
    EXPECT_EQ(first.type, GlobalDragEvent::Type::Dragged);
    EXPECT_EQ(first.filePaths, std::vector<std::string>{path});
    EXPECT_GT(first.pasteboardChangeCount, 0);
    EXPECT_TRUE(watch_->isDragging());
    // In the platform's coordinates: y up from the bottom of the 900-pixel screen.
    EXPECT_EQ(first.location, (Point{400, 500}));

    ASSERT_TRUE(runTool("xdotool mousemove 700 300"));
    ASSERT_TRUE(waitFor([&] { return events_.back().location == Point{700, 600}; }));
    EXPECT_EQ(events_.back().type, GlobalDragEvent::Type::Dragged);
    EXPECT_EQ(events_.back().pasteboardChangeCount, first.pasteboardChangeCount);
    EXPECT_EQ(events_.back().filePaths, first.filePaths);
    EXPECT_EQ(count(GlobalDragEvent::Type::MouseUp), 0u);

    ASSERT_TRUE(runTool("xdotool mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return count(GlobalDragEvent::Type::MouseUp) == 1; }));
    EXPECT_EQ(events_.back().type, GlobalDragEvent::Type::MouseUp);
    EXPECT_EQ(events_.back().location, (Point{700, 600}));
    EXPECT_FALSE(watch_->isDragging());

    // The next drag is a new change of the drag pasteboard; it starts once the source is done
    // with the first.
    ASSERT_TRUE(waitFor([&] { return source.hasEndedADrag(); }));
    events_.clear();
    beginDragFromSource();
    ASSERT_TRUE(waitFor([&] { return !events_.empty(); }));
    EXPECT_GT(events_.front().pasteboardChangeCount, first.pasteboardChangeCount);
    EXPECT_EQ(events_.front().filePaths, std::vector<std::string>{path});
    ASSERT_TRUE(runTool("xdotool mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return count(GlobalDragEvent::Type::MouseUp) == 1; }));
    pump(0.2);
    EXPECT_EQ(events_.back().type, GlobalDragEvent::Type::MouseUp);
}

TEST_F(DragWatchTest, SeveralFilesComeInTheSourcesOrderAndOtherAddressesAreLeftOut) {
    const std::string a = makeFile("b.txt");
    const std::string b = makeFile("a \xE6\x96\x87.png");
    DragSourceProcess source(100, 100, "uri-list", {uriOf(a), "https://example.com/page", uriOf(b)});
    ASSERT_TRUE(waitFor([&] { return source.isReady(); }));
    beginDragFromSource();
    ASSERT_TRUE(waitFor([&] { return !events_.empty(); }));
    EXPECT_EQ(events_.front().filePaths, (std::vector<std::string>{a, b}));
    ASSERT_TRUE(runTool("xdotool mouseup 1"));
    EXPECT_TRUE(waitFor([&] { return count(GlobalDragEvent::Type::MouseUp) == 1; }));
}

TEST_F(DragWatchTest, ADragOfSomethingElseIsANewChangeWithoutFiles) {
    DragSourceProcess source(100, 100, "text", {"just some words"});
    ASSERT_TRUE(waitFor([&] { return source.isReady(); }));
    beginDragFromSource();
    ASSERT_TRUE(waitFor([&] { return !events_.empty(); }));
    EXPECT_EQ(events_.front().type, GlobalDragEvent::Type::Dragged);
    EXPECT_TRUE(events_.front().filePaths.empty());
    EXPECT_GT(events_.front().pasteboardChangeCount, 0);
    ASSERT_TRUE(runTool("xdotool mouseup 1"));
    EXPECT_TRUE(waitFor([&] { return count(GlobalDragEvent::Type::MouseUp) == 1; }));
}

TEST_F(DragWatchTest, TheDragEndsWhenTheSourceGoesAway) {
    DragSourceProcess source(100, 100, "uri-list", {uriOf(makeFile("a.pdf"))});
    ASSERT_TRUE(waitFor([&] { return source.isReady(); }));
    beginDragFromSource();
    ASSERT_TRUE(waitFor([&] { return !events_.empty(); }));
    // The button is still down, but the source that owned the drag is gone.
    source.quit();
    ASSERT_TRUE(waitFor([&] { return count(GlobalDragEvent::Type::MouseUp) == 1; }));
    EXPECT_FALSE(watch_->isDragging());
    ASSERT_TRUE(runTool("xdotool mousemove 500 500 mouseup 1"));
    pump(0.2);
    EXPECT_EQ(count(GlobalDragEvent::Type::MouseUp), 1u);
}

TEST_F(DragWatchTest, PlainPressesAndAStoppedWatchReportNothing) {
    DragSourceProcess source(100, 100, "uri-list", {uriOf(makeFile("a.pdf"))});
    ASSERT_TRUE(waitFor([&] { return source.isReady(); }));
    // A press and a drag that starts no drag (on the bare desktop).
    ASSERT_TRUE(runTool("xdotool mousemove 900 600 mousedown 1 mousemove 950 650 mousemove 1000 700 mouseup 1"));
    pump(0.3);
    EXPECT_TRUE(events_.empty());

    watch_->stop();
    EXPECT_FALSE(watch_->isRunning());
    beginDragFromSource();
    ASSERT_TRUE(runTool("xdotool mousemove 600 600 mouseup 1"));
    pump(0.3);
    EXPECT_TRUE(events_.empty());

    // Started again, it sees the next drag.
    watch_->start([this](const GlobalDragEvent& event) { events_.push_back(event); });
    beginDragFromSource();
    EXPECT_TRUE(waitFor([&] { return !events_.empty(); }));
    ASSERT_TRUE(runTool("xdotool mouseup 1"));
    EXPECT_TRUE(waitFor([&] { return count(GlobalDragEvent::Type::MouseUp) == 1; }));
}

}  // namespace
}  // namespace kit::testing
