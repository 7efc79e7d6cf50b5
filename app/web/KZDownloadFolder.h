#pragma once
// Where images and files that pages hand to the user wait until the user saves them: a private
// folder (0700) "Library/Caches/<bundle identifier>/downloads" under the home folder. Names that
// come from pages or servers become one bare file name in it; files are written whole (a
// temporary file renamed into place) and readable by the user only (0600); every waiting file
// has a name of its own (a second "report.pdf" waits as "report (2).pdf"), and moving a file
// onto another path replaces that path in one step, so a failed move never loses the file that
// was there. Main thread only.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kit/base/FolderChain.h"
#include "kit/base/Result.h"

namespace KZDownloadFolder {

// The folder as the application lays it out: the home's caches, then the bundle identifier and
// "downloads". The web engine stages its transfers inside it.
kit::FolderChain chain();

// The folder, checked with the one rule for the chain (kit/base/FolderChain.h): made when missing,
// made private when it exists with wider permissions; an error saying why when it is refused.
kit::Result<std::filesystem::path> ensure();

// A waiting file that a save panel offers: held (a shared flock) while the object lives, so that
// no clean-up, of this instance or of another, removes it meanwhile.
class OfferedFile {
public:
    explicit OfferedFile(const std::filesystem::path& path);
    ~OfferedFile();
    OfferedFile(const OfferedFile&) = delete;
    OfferedFile& operator=(const OfferedFile&) = delete;

private:
    int fd_ = -1;
};

// Removes the waiting files older than a day that no panel offers (files that never got a panel:
// the view went away, too many panels were up), each with a log line. Run once at start.
void removeStaleFiles();

// A name from a page or a server as one file name: "/", "\" and control characters become "_",
// leading and trailing blanks and dots go, at most 255 bytes (the extension kept, UTF-8 not cut
// in the middle of a character); "download" when nothing is left.
std::string sanitizedFileName(std::string_view name);

// Percent-escapes decoded; nullopt when an escape is malformed or the result is not UTF-8.
std::optional<std::string> removingPercentEncoding(std::string_view text);

// "report.pdf" for the first attempt, then "report (2).pdf", "report (3).pdf", ...: a name's
// numbered alternatives, within the length of one file name.
std::string numberedName(const std::string& name, int attempt);

// Takes the first name `nameFor(1)`, `nameFor(2)`, ... that is free in the folder, by creating
// an empty private file under it (never through a link), so that no other waiting file gets it.
// The file written or moved there later replaces the empty one.
kit::Result<std::filesystem::path> reserveFreeName(const std::filesystem::path& folder,
                                                   const std::function<std::string(int attempt)>& nameFor);

// Writes the bytes to the path (a sibling temporary file, 0600, renamed over it).
kit::Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Moves a file onto the destination, replacing a file there in one step (also across file
// systems: then a copy beside the destination is renamed over it and the source removed). The
// result gets `mode`: readable by the user only by default, the user's usual mode for a place
// the user chose.
kit::Status moveReplacing(const std::filesystem::path& from, const std::filesystem::path& to, mode_t mode = 0600);

// "file://" address of an absolute path, escaped.
std::string fileURL(const std::filesystem::path& path);

}  // namespace KZDownloadFolder
