# brixa_layer(<name> [DEPENDS <targets>...] [LIBS <libs>...])
#
# Builds the static library brixa_<name> from every .cpp file of the folder <name>/, skipping the
# files of the other platform: *_windows.cpp only on Windows, *_unix.cpp only elsewhere. Files are
# globbed, so a new unit needs no edit here.
function(brixa_layer name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_unix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  if(sources)
    add_library(brixa_${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(brixa_${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(brixa_${name} ${scope} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(brixa_${name} ${scope} ${ARG_DEPENDS} ${ARG_LIBS})
endfunction()

# brixa_platform_sources(<out-var> <glob>...): the matching files, minus the other platform's.
function(brixa_platform_sources out)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${ARGN})
  if(WIN32)
    list(FILTER found EXCLUDE REGEX "_unix\\.cpp$")
  else()
    list(FILTER found EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
