# Pictures from servers and pages: the streaming PNG sampler and the check of an SVG document's
# embedded pictures.
quarn_fuzz(image ${CMAKE_CURRENT_LIST_DIR}/ImageFuzz.cpp kit_ui)
