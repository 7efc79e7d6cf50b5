#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "app/core/KZLaunchQueue.h"

namespace {

using LaunchQueueTest = CoreTest;

// Work held for the first page runs in order on the turn after the page, or after the limit when
// the page does not come; work outside a hold runs at once.
TEST_F(LaunchQueueTest, HeldWorkRunsInOrderOnceThePageIsReadyOrTheLimitPasses) {
    struct Case {
        const char* what;
        bool pageComes;
    };
    for (const Case& c : {Case{"the page comes", true}, Case{"the page does not come", false}}) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> ran;
        KZLaunchQueue::afterFirstPage([&] { ran.push_back("before the launch"); });
        EXPECT_EQ(ran, std::vector<std::string>{"before the launch"});
        KZLaunchQueue::hold(5.0);
        KZLaunchQueue::hold(60.0);  // the first limit stands
        KZLaunchQueue::afterFirstPage([&] { ran.push_back("sweep"); });
        KZLaunchQueue::afterFirstPage([&] { ran.push_back("panels"); });
        env().advance(4.0);
        EXPECT_EQ(ran.size(), 1u) << "nothing runs while the page is awaited";
        if (c.pageComes) {
            KZLaunchQueue::release();
            EXPECT_EQ(ran.size(), 1u) << "on the next turn, not inside the page's report";
            env().runUntilIdle();
        } else {
            env().advance(1.0);
        }
        EXPECT_EQ(ran, (std::vector<std::string>{"before the launch", "sweep", "panels"}));
        EXPECT_FALSE(KZLaunchQueue::isHolding());
        KZLaunchQueue::release();  // a late page report changes nothing
        KZLaunchQueue::afterFirstPage([&] { ran.push_back("later"); });
        EXPECT_EQ(ran.back(), "later");
        env().advance(60.0);
        EXPECT_EQ(ran.size(), 4u);
    }
}

}  // namespace
