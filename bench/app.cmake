# The real application under a private Xvfb and session bus (bench/AppBench.sh): from the
# side-window hot key to the first frame of the slide-in, the resident memory with the side
# window loaded, and memory, launch, CPU and idle against QuarnReferenceWindow. Run with
# `cmake --build <dir> --target bench_app_run`; not part of bench_all, because it runs rather
# than builds.
if(TARGET QuarnAI AND TARGET QuarnHost AND TARGET QuarnAIService)
  add_custom_target(bench_app_run
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/AppBench.sh --bin ${CMAKE_BINARY_DIR}/bin
    DEPENDS QuarnAI QuarnHost QuarnAIService QuarnGetText QuarnReferenceWindow
    USES_TERMINAL)
endif()
