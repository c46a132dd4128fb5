# cmake --install gives what a Windows developer expects: include/, bin/ (the DLLs), lib/ (their
# import libraries) and lib/cmake/video_render/, with which
#   find_package(video_render CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE video_render::video_render)
# is all a caller writes.
include(CMakePackageConfigHelpers)

set(VIDEO_RENDER_CONFIG_DIR lib/cmake/video_render)
install(TARGETS video_render kx_logger EXPORT video_render_targets
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
install(FILES
  sources/video_render/kx_vidrender.h
  sources/video_render/ffmpeg_records.h
  sources/kx_logger/kx_logger.h
  DESTINATION include)
install(EXPORT video_render_targets NAMESPACE video_render:: DESTINATION ${VIDEO_RENDER_CONFIG_DIR})

# The package refuses a caller of the other target (32 against 64 bits) or of another major
# version.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/video_renderConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES cmake/video_renderConfig.cmake ${CMAKE_BINARY_DIR}/video_renderConfigVersion.cmake
  DESTINATION ${VIDEO_RENDER_CONFIG_DIR})
