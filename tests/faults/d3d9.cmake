# Fault storms of the Direct3D 9 backend (d3d9_fault_storm): device loss after device loss on
# the decoder's borrowed device and on the renderer's own one, rebuilds that fail at each of
# their creation calls, and every creation call of an initialisation failing in turn on both
# device paths (the own one also without Direct3D 9Ex devices), with the log lines, the frames
# drawn and the reference counts of every device checked on every run. The program ends with a
# "d3d9 fault storm:" line: faults injected, frames drawn, rebuilds.
#
# ctest runs the short version (seed 1, 12 losses, one failing creation call of each kind). The
# long version (2,000 losses on the decoder's device and 200 on the renderer's own, every
# creation call failing in turn with each of five failure codes), under Wine in an X server:
#   (cd build/x64/bin && /usr/lib/wine/wine64 d3d9_fault_storm.exe --long --seed 7)
# --losses N, --sweeps N (failure codes, 1 to 5), --every-step and --seed S set the parts one by
# one; a failure names its loss or its failing call, and the same --seed replays it.
add_executable(d3d9_fault_storm
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_creation_faults.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_creation_outcome.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_creation_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_fault_d3d9.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_fault_imports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_patch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_loss_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/d3d9_storm_main.cpp
)
target_link_libraries(d3d9_fault_storm PRIVATE test_support)
# Two entries, so that ctest can run them side by side.
add_test(NAME d3d9_fault_storm_losses
  COMMAND d3d9_fault_storm --seed 1 --losses 12 --gtest_filter=*loss_storm*)
add_test(NAME d3d9_fault_storm_creation
  COMMAND d3d9_fault_storm --gtest_filter=*creation_storm*)
set_tests_properties(d3d9_fault_storm_losses d3d9_fault_storm_creation PROPERTIES TIMEOUT 600)
