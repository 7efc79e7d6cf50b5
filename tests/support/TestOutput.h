#pragma once
// Where tests leave pictures to look at: build/test-output/<area> when the build tree is known
// (QUARN_BINARY_DIR), else a test-output folder under `fallbackRoot` (a test's temporary root).

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kit::testing {

inline std::filesystem::path testOutputDirectory(const std::string& area, const std::filesystem::path& fallbackRoot) {
    std::filesystem::path dir;
    if (const char* binary = std::getenv("QUARN_BINARY_DIR")) {
        dir = std::filesystem::path(binary) / "test-output" / area;
    } else {
        dir = fallbackRoot / "test-output";
    }
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace kit::testing
