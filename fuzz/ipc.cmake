# Arbitrary user info through the IPC client's notification handlers, and arbitrary argument
# arrays through its event dispatcher.
quarn_fuzz(ipc ${CMAKE_CURRENT_LIST_DIR}/IpcFuzz.cpp app_core kit_headless)
