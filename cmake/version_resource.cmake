# add_version_resource(<DLL target> <description>): gives the DLL the version record Windows
# shows in its properties, with the project's version and the DLL's own name.
function(add_version_resource target description)
  set(VERSION_NAME ${target})
  set(VERSION_FILE_NAME ${target}${CMAKE_SHARED_LIBRARY_SUFFIX})
  set(VERSION_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/sources/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
