# Run-loop post-and-drain cost per task, against a plain deque of std::function.
quarn_bench(base SOURCES ${CMAKE_CURRENT_LIST_DIR}/RunLoopBench.cpp LIBS kit_base)
