# The settings file's bytes: in memory through the parser and the getters' typed readings (fast),
# and through the file and every getter of the settings manager (slow), and the same bytes as a
# saved shortcut archive in both.
quarn_fuzz(settings ${CMAKE_CURRENT_LIST_DIR}/SettingsFuzz.cpp app_core)
quarn_fuzz(settings_file ${CMAKE_CURRENT_LIST_DIR}/SettingsFileFuzz.cpp app_core)
