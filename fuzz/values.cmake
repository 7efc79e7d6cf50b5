# Property-list and JSON parsers: arbitrary bytes in, and whatever reads is written back out.
quarn_fuzz(plist ${CMAKE_CURRENT_LIST_DIR}/PlistFuzz.cpp kit_values)
quarn_fuzz(json ${CMAKE_CURRENT_LIST_DIR}/JsonFuzz.cpp kit_values)
