#pragma once
// Analytics reports of the web views. Timings of a message type that crosses two views (a
// panel's page asks to continue, the side window's page gets the ask) are kept here, once per
// process; each view keeps its own for the types it sends and answers itself. Main thread only.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class KZBaseWebViewReportHelper {
public:
    static KZBaseWebViewReportHelper& sharedHelper();

    // Records now for the type (overwriting) and reports 24013 [address, type].
    void _reportWebViewDidSendJSMessage(long type, const std::string& urlString);
    // With a recorded time for the type: reports 24014 [address, type, milliseconds since it]
    // and forgets it; otherwise nothing.
    void _reportWebViewDidReceiveJSMessage(long type, const std::string& urlString);

    // Joins the fields with ";" and reports them under the key (extra nil).
    static void _reportWithKey(std::int64_t key, const std::vector<std::string>& arrayValue);
    // Whole milliseconds since a time of the main loop's clock, truncated.
    static long millisecondsSince(double monotonicTime);

    bool hasRecordedSend(long type) const { return dates_.contains(type); }
    // Forgets the recorded times (tests).
    void resetForTesting() { dates_.clear(); }

private:
    std::map<long, double> dates_;
};
