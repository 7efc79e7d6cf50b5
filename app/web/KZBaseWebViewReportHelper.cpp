#include "app/web/KZBaseWebViewReportHelper.h"

#include <cmath>

#include "frameworks/HXReport.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"

KZBaseWebViewReportHelper& KZBaseWebViewReportHelper::sharedHelper() {
    static KZBaseWebViewReportHelper helper;
    return helper;
}

void KZBaseWebViewReportHelper::_reportWebViewDidSendJSMessage(long type, const std::string& urlString) {
    dates_[type] = kit::RunLoop::main().now();
    _reportWithKey(24013, {urlString, std::to_string(type)});
    kit::logf("[KZBaseWebView] WebViewDidSendJSMessage: %ld", type);
}

void KZBaseWebViewReportHelper::_reportWebViewDidReceiveJSMessage(long type, const std::string& urlString) {
    auto it = dates_.find(type);
    if (it == dates_.end()) return;
    const long elapsed = millisecondsSince(it->second);
    dates_.erase(it);
    _reportWithKey(24014, {urlString, std::to_string(type), std::to_string(elapsed)});
    kit::logf("[KZBaseWebView] WebViewDidReceiveJSMessage: %ld", type);
}

void KZBaseWebViewReportHelper::_reportWithKey(std::int64_t key, const std::vector<std::string>& arrayValue) {
    std::string value;
    for (std::size_t i = 0; i < arrayValue.size(); ++i) {
        if (i) value += ';';
        value += arrayValue[i];
    }
    HXReport::reportCommonKeyValue(key, value);
}

long KZBaseWebViewReportHelper::millisecondsSince(double monotonicTime) {
    const double elapsed = (kit::RunLoop::main().now() - monotonicTime) * 1000.0;
    // A hair added before truncating: spans like 1.234 s are not exact in binary and would lose
    // their last millisecond. A negative span can only come from a time of another loop.
    return elapsed > 0 ? static_cast<long>(std::trunc(elapsed + 1e-6)) : 0;
}
