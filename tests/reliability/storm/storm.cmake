# The storm mode's sources, added to every build of the reliability program.
set(STORM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/storm.cpp ${CMAKE_CURRENT_LIST_DIR}/storm_creation.cpp)

# What the storms need of the program, and their ctest entries: the short storms (fixed seed);
# scripts/long_run.sh runs the --long ones.
function(add_storm_tests)
  foreach(program vrender_reliability vrender_reliability_ddraw)
    target_link_libraries(${program} PRIVATE ddraw dxguid)
  endforeach()
  # The DirectDraw copy must load the library just built, not an older copy beside it.
  add_custom_command(TARGET vrender_reliability_ddraw POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:video_render> ${DDRAW_ONLY_DIR})
  foreach(part losses creation)
    add_test(NAME storm_${part} COMMAND vrender_reliability storm --seed 1 --part ${part})
    set_tests_properties(storm_${part} PROPERTIES TIMEOUT 600)
  endforeach()
  add_test(NAME storm_ddraw
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${DDRAW_ONLY_DIR}/vrender_reliability.exe storm --seed 1)
  set_tests_properties(storm_ddraw PROPERTIES TIMEOUT 600
    ENVIRONMENT "WINEDLLOVERRIDES=d3d9=n\;mscoree,mshtml=")
endfunction()
