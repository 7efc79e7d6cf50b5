# The desktop backend on a private Xvfb (the executable starts one around itself): from a global
# hot key pressed with xdotool to the first frame of the window shown in the handler, against
# drawing the same window off screen; and the resident memory with a few windows shown.
if(TARGET kit_desktop)
  quarn_bench(desktop SOURCES ${CMAKE_CURRENT_LIST_DIR}/DesktopBench.cpp LIBS kit_desktop kit_headless)
endif()
