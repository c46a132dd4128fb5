# video_render::video_render: the library (its header, import library and DLL), and
# video_render::kx_logger, the DLL it writes its log through, for a caller that wants its lines.
include(${CMAKE_CURRENT_LIST_DIR}/video_render_targets.cmake)
