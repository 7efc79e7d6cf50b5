#pragma once
// Whether other windows cover a window completely, worked out from the X server: the stacking
// order of the root's children and their geometry, recomputed after any of them is mapped,
// unmapped, moved, resized or restacked. The server's visibility events cannot serve: windows
// with an alpha channel are redirected by the server and always count as unobscured.
//
// Windows are taken as rectangles; a shaped window on top covers its whole box.

namespace kit::desktop {

// Starts watching the root window (once; main thread).
void watchOcclusion();
// Recomputes on a later turn of the main loop, once however often it is asked.
void scheduleOcclusionUpdate();

}  // namespace kit::desktop
