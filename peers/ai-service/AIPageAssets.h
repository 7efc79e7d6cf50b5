#pragma once
// The page script and style, compiled in from peers/ai-service/page.

namespace peers::aiservice {

extern const char* const kPageScript;
extern const char* const kPageStyle;

}  // namespace peers::aiservice
