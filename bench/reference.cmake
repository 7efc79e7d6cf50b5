# The minimal GTK/WebKitGTK program the application's launch, memory and idle are measured
# against (bench/AppBench.py). Built with the benchmarks; not a bench_ executable of its own.
if(TARGET kit_desktop)
  pkg_check_modules(REFERENCE_WINDOW REQUIRED IMPORTED_TARGET gtk+-3.0 webkit2gtk-4.1 x11)
  add_executable(QuarnReferenceWindow ${CMAKE_CURRENT_LIST_DIR}/ReferenceWindow.c)
  target_link_libraries(QuarnReferenceWindow PRIVATE PkgConfig::REFERENCE_WINDOW)
  set_target_properties(QuarnReferenceWindow PROPERTIES C_STANDARD 11)
  target_compile_options(QuarnReferenceWindow PRIVATE -Wall -Wextra $<$<BOOL:${QUARN_WERROR}>:-Werror>)
  add_dependencies(bench_all QuarnReferenceWindow)
endif()
