# The bridge's flush of a queue text fetched from a page (and the signal-address checks).
quarn_fuzz(bridge ${CMAKE_CURRENT_LIST_DIR}/BridgeFuzz.cpp app_web)
