#include "app/web/KZSharedWebData.h"

#include <memory>

#include "frameworks/HXReport.h"
#include "kit/base/RunLoop.h"
#include "kit/web/Url.h"

namespace {
std::unique_ptr<KZSharedWebData>& slot() {
    static std::unique_ptr<KZSharedWebData> data;
    return data;
}
}  // namespace

KZSharedWebData& KZSharedWebData::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZSharedWebData>();
    return *s;
}

void KZSharedWebData::resetShared() { slot().reset(); }

KZSharedWebData::KZSharedWebData()
    : allowedImageTypes_(__defaultAllowImageTypes()), allowedDocumentTypes_(__defaultAllowDocumentTypes()) {
    if (auto guid = HXReport::getCurrentUserGuid()) reportDataGuid_ = kit::asciiLowercase(*guid);
}

std::vector<std::string> KZSharedWebData::__defaultAllowImageTypes() { return {"png", "jpg", "jpeg", "bmp", "webp"}; }

std::vector<std::string> KZSharedWebData::__defaultAllowDocumentTypes() {
    return {"txt", "pdf", "doc", "docx", "ppt", "pptx", "xls", "xlsx", "csv"};
}

void KZSharedWebData::saveAllowedImageTypes(const std::vector<std::string>& types) {
    if (types.empty()) return;
    allowedImageTypes_ = types;
    latestReceivedType_ = ReceivedImage;
    latestReceivedDate_ = kit::RunLoop::main().now();
}

void KZSharedWebData::saveAllowedDocumentTypes(const std::vector<std::string>& types) {
    if (types.empty()) return;
    allowedDocumentTypes_ = types;
    latestReceivedType_ = ReceivedDocument;
    latestReceivedDate_ = kit::RunLoop::main().now();
}

std::optional<std::vector<std::string>> KZSharedWebData::latestReceivedAllowedTypes() const {
    if (!latestReceivedDate_ || latestReceivedType_ == ReceivedNone) return std::nullopt;
    if (kit::RunLoop::main().now() - *latestReceivedDate_ > kLatestDeclarationLifetime) return std::nullopt;
    return latestReceivedType_ == ReceivedImage ? allowedImageTypes_ : allowedDocumentTypes_;
}

std::vector<std::string> KZSharedWebData::supportedNativeDragTypes() const {
    std::vector<std::string> types = allowedImageTypes_.empty() ? __defaultAllowImageTypes() : allowedImageTypes_;
    const auto documents = allowedDocumentTypes_.empty() ? __defaultAllowDocumentTypes() : allowedDocumentTypes_;
    types.insert(types.end(), documents.begin(), documents.end());
    return types;
}
