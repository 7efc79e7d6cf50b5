# Names and data addresses that pages and servers hand to downloads.
quarn_fuzz(download_name ${CMAKE_CURRENT_LIST_DIR}/DownloadNameFuzz.cpp app_web)
