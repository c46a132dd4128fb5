# What the library's build and the player's build share: the target's name, the compiler
# settings and libyuv, cross-built by scripts/setup_deps.sh.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

set(KX_DEPS_DIR "/opt/kx_deps" CACHE PATH "where scripts/setup_deps.sh put the dependencies")

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KX_TARGET x64)
else()
  set(KX_TARGET i686)
endif()

# The runtime is linked in: our DLLs and programs need no MinGW DLL beside them.
add_link_options(-static -static-libgcc -static-libstdc++)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Werror>")
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

add_library(libyuv STATIC IMPORTED)
set_target_properties(libyuv PROPERTIES
  IMPORTED_LOCATION ${KX_DEPS_DIR}/libyuv/${KX_TARGET}/lib/libyuv.a
  INTERFACE_INCLUDE_DIRECTORIES ${KX_DEPS_DIR}/libyuv/${KX_TARGET}/include)
