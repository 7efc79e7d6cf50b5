# A settings getter (it parses the file again only when the file changed) against a bare read of
# the same file's bytes.
quarn_bench(settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/SettingsBench.cpp LIBS app_core)
