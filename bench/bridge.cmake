# Bridge messages: the engine's send path (encode, escape, script) against a bare JSON dump.
quarn_bench(bridge SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeBench.cpp LIBS app_web)
