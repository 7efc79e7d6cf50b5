# Property-list reading and JSON writing against the libraries they stand on.
quarn_bench(values SOURCES ${CMAKE_CURRENT_LIST_DIR}/ValuesBench.cpp LIBS kit_values PkgConfig::PLIST)
