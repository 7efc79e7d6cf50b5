# A settings getter (it re-reads and parses the whole file on every call) against a bare read of
# the same file's bytes.
quarn_bench(settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/SettingsBench.cpp LIBS app_core)
