#pragma once
// The media type of a file, from its name, by the shared MIME database of the desktop (GIO).

#include <string>

namespace kit {

// "application/pdf" for "report.PDF"; "application/octet-stream" when the name says nothing.
std::string mimeTypeForFileName(const std::string& name);

}  // namespace kit
