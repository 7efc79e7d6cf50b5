#pragma once
// Work that the launch leaves until the side window's page is ready: it then does not compete
// with that page for the main thread, the page process and the disk. The launch opens the
// queue's hold (hold()); the side window ends it when its page reports ready, and a page that
// takes longer than the hold's limit (a service that is down) ends it as well. Tasks queued while
// the hold lasts run on the turn after it ends, in the order they came; tasks queued at any other
// time (before the launch, after the page, in tests) run at once.
//
// Main thread only.

#include <functional>

namespace KZLaunchQueue {

// Starts holding tasks, for at most `limitSeconds`. A hold already running keeps its limit.
void hold(double limitSeconds);
// Ends the hold: queued tasks run on the next turn of the main loop.
void release();
bool isHolding();
// Runs the task now, or when the hold ends.
void afterFirstPage(std::function<void()> task);

}  // namespace KZLaunchQueue
