# Arbitrary settings-file bytes through every getter of the settings manager, and the same
# bytes as a saved shortcut archive.
quarn_fuzz(settings ${CMAKE_CURRENT_LIST_DIR}/SettingsFuzz.cpp app_core)
