# The real application's image window with 1 to 20 tabs (bench/ToolTabsBench.sh): memory of all
# its processes per tab. Run with `cmake --build <dir> --target bench_tool_tabs_run`; not part of
# bench_all, because it runs rather than builds.
if(TARGET QuarnAI AND TARGET QuarnHost AND TARGET QuarnAIService)
  add_custom_target(bench_tool_tabs_run
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/ToolTabsBench.sh --bin ${CMAKE_BINARY_DIR}/bin
    DEPENDS QuarnAI QuarnHost QuarnAIService QuarnGetText
    USES_TERMINAL)
endif()
