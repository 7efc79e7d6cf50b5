# Distributed notification latency between two processes on a private session bus, against the
# round trip of a plain D-Bus method call. The executable is its own echo peer ("--peer").
quarn_bench(sys SOURCES ${CMAKE_CURRENT_LIST_DIR}/SysBench.cpp LIBS kit_sys kit_base)
