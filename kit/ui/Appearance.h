#pragma once
// Light and dark appearance. The application follows the system unless told otherwise.

namespace kit {

enum class Appearance { Light, Dark };

enum class AppearancePreference { System, Light, Dark };

}  // namespace kit
