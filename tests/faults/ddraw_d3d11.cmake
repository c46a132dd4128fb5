# Fault storms of the DirectDraw and Direct3D 11 backends: surfaces lost over and over, the
# creation calls of each initialisation failing one after another (the n-th, every call from
# the n-th on), Present failing for stretches, with the log lines, the frames and the reference
# counts of borrowed devices checked on every run. Each program ends with a "fault storm
# summary" line: faults injected, frames drawn, frames dropped, runs.
#
# ctest runs the short version (fixed seed and choices: every creation call of a first
# initialisation failing once, 160 frames of surface loss, 120 of failing presents; about a
# minute each, most of it Wine making DirectDraw objects and devices). The long version
# (20,000 frames of surface loss, 5,000 of failing presents, every creation call failing alone
# and with all after it at every entry, every pair on the first initialisation), under Wine in
# an X server, from build/x64/bin:
#   (cd ddraw_only && WINEDLLOVERRIDES="d3d9=n;mscoree,mshtml=" \
#      /usr/lib/wine/wine64 ddraw_fault_storm.exe --long --seed 7)
#   /usr/lib/wine/wine64 d3d11_fault_storm.exe --long --seed 7
# --seed picks the random choices of the storms; a failure names the frame or the failing
# calls, and the same --seed replays it.

set(FAULT_SUPPORT ${CMAKE_CURRENT_LIST_DIR}/..)

# DirectDraw runs beside the stand-in d3d9.dll, as on a machine without Direct3D 9.
add_executable(ddraw_fault_storm
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_d3d11_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_patch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_fault_objects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_surface_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_creation_storm.cpp
  ${FAULT_SUPPORT}/ddraw_fault_surface.cpp
)
target_include_directories(ddraw_fault_storm PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${FAULT_SUPPORT})
target_link_libraries(ddraw_fault_storm PRIVATE test_support psapi)
set_target_properties(ddraw_fault_storm PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${DDRAW_ONLY_DIR})
add_dependencies(ddraw_fault_storm d3d9_stub)
add_custom_command(TARGET ddraw_fault_storm POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kx_logger> ${DDRAW_ONLY_DIR})
add_test(NAME ddraw_fault_storm COMMAND ddraw_fault_storm)
set_tests_properties(ddraw_fault_storm PROPERTIES TIMEOUT 600
  ENVIRONMENT "WINEDLLOVERRIDES=d3d9=n\;mscoree,mshtml=")

add_executable(d3d11_fault_storm
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_d3d11_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_patch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d11_fault_objects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d11_storm_frames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d11_creation_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d11_swap_chain_storm.cpp
)
target_include_directories(d3d11_fault_storm PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(d3d11_fault_storm PRIVATE test_support psapi)
add_test(NAME d3d11_fault_storm COMMAND d3d11_fault_storm)
set_tests_properties(d3d11_fault_storm PROPERTIES TIMEOUT 600)
