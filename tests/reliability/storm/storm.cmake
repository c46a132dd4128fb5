# The storm mode's sources, added to every build of the reliability program.
set(STORM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/storm.cpp)

# ctest entries of the storm mode; called once the programs exist.
function(add_storm_tests)
endfunction()
