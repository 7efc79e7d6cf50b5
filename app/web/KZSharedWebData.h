#pragma once
// What the pages declared, shared by every web view of the process: the file types the pages
// accept (for the open panel and for files dropped onto the AI), and the analytics identifier
// that pages fetch. Main thread only.

#include <optional>
#include <string>
#include <vector>

class KZSharedWebData {
public:
    enum ReceivedType : unsigned { ReceivedNone = 0, ReceivedImage = 1, ReceivedDocument = 2 };

    static KZSharedWebData& shared();
    // Forgets the instance, so the next shared() makes a new one (tests).
    static void resetShared();

    KZSharedWebData();

    const std::vector<std::string>& allowedImageTypes() const { return allowedImageTypes_; }
    const std::vector<std::string>& allowedDocumentTypes() const { return allowedDocumentTypes_; }
    // The analytics service's user identifier, lower-cased; nullopt when it has none.
    const std::optional<std::string>& reportDataGuid() const { return reportDataGuid_; }
    // Main-loop clock time of the last declaration.
    const std::optional<double>& latestReceivedDate() const { return latestReceivedDate_; }
    unsigned latestReceivedType() const { return latestReceivedType_; }

    // An empty list is ignored; otherwise it replaces the kind's list and becomes the latest
    // declaration.
    void saveAllowedImageTypes(const std::vector<std::string>& types);
    void saveAllowedDocumentTypes(const std::vector<std::string>& types);
    // The list of the latest declaration while it is at most 3 seconds old, else nullopt
    // (every type).
    std::optional<std::vector<std::string>> latestReceivedAllowedTypes() const;
    // The image list then the document list (the defaults where a list is empty).
    std::vector<std::string> supportedNativeDragTypes() const;

    static std::vector<std::string> __defaultAllowImageTypes();
    static std::vector<std::string> __defaultAllowDocumentTypes();

    static constexpr double kLatestDeclarationLifetime = 3.0;

private:
    std::vector<std::string> allowedImageTypes_;
    std::vector<std::string> allowedDocumentTypes_;
    std::optional<std::string> reportDataGuid_;
    std::optional<double> latestReceivedDate_;
    unsigned latestReceivedType_ = ReceivedNone;
};
