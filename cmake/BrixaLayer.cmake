# The layers, lowest first: platform, runtime, transport, http, app. Sources include headers by
# their layer folder ("runtime/text/text.h"). Each layer's target offers the compiler one include root
# of its own, a folder in the build tree holding a single link to the layer's sources, and sees
# the roots of the layers it links. A layer that includes a header of a layer above it does not
# compile, so the build itself keeps dependencies pointing down.

# brixa_platform_sources(<out-var> <glob>...): the matching files, minus the other platform's:
# *_windows.* only on Windows, *_unix.* only elsewhere.
function(brixa_platform_sources out)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${ARGN})
  if(WIN32)
    list(FILTER found EXCLUDE REGEX "_unix\\.[a-z]+$")
  else()
    list(FILTER found EXCLUDE REGEX "_windows\\.[a-z]+$")
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# brixa_layer(<name> [EXCLUDE <file names>...] [DEPENDS <targets>...] [LIBS <libs>...])
#
# Builds the static library brixa_<name> from every .cpp file of the folder <name>/ (this
# platform's, minus the EXCLUDEd names). Files are globbed, so a new unit needs no edit here.
# Installed, the headers land in include/brixa/<name>/ and the target is Brixa::<name>.
function(brixa_layer name)
  cmake_parse_arguments(ARG "" "" "EXCLUDE;DEPENDS;LIBS" ${ARGN})
  brixa_platform_sources(sources ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded ${ARG_EXCLUDE})
    list(FILTER sources EXCLUDE REGEX "/${excluded}$")
  endforeach()
  brixa_name_check(${name} ${ARG_EXCLUDE})
  add_library(brixa_${name} STATIC ${sources})
  set_target_properties(brixa_${name} PROPERTIES EXPORT_NAME ${name})

  set(root ${CMAKE_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  target_include_directories(brixa_${name} PUBLIC $<BUILD_INTERFACE:${root}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/brixa>)
  target_link_libraries(brixa_${name} PUBLIC ${ARG_DEPENDS} ${ARG_LIBS})
  brixa_header_check(${name})
endfunction()

# brixa_name_check(<name> <exempt file names>...): every source file of the folder <name>/, both
# platforms' alike, is named after the header it implements: X.cpp, X_unix.cpp or X_windows.cpp
# beside an X.h. Fails the configure step naming every file that is not, so a unit cannot hide
# in a file whose name says something else. Headers need no source (header-only units).
function(brixa_name_check name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(offenders)
  foreach(source ${sources})
    get_filename_component(file_name ${source} NAME)
    if(file_name IN_LIST ARGN)
      continue()
    endif()
    get_filename_component(folder ${source} DIRECTORY)
    string(REGEX REPLACE "\\.cpp$" "" unit ${file_name})
    string(REGEX REPLACE "_(unix|windows)$" "" platform_unit ${unit})
    if(NOT EXISTS ${folder}/${unit}.h AND NOT EXISTS ${folder}/${platform_unit}.h)
      file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${source})
      list(APPEND offenders ${relative})
    endif()
  endforeach()
  if(offenders)
    list(JOIN offenders "\n  " listed)
    message(FATAL_ERROR "Source files not named after a header beside them (X.cpp, X_unix.cpp or "
                        "X_windows.cpp next to X.h):\n  ${listed}")
  endif()
endfunction()

# brixa_header_check(<name>): the object library brixa_<name>_headers, one translation unit per
# header of the layer (this platform's), each including nothing but that header, twice. It
# compiles with the layer's own include roots, so a header that leans on an include it does not
# make itself, lacks its guard, or reaches a layer above fails. Built by the target
# brixa_header_check, which scripts/test.sh runs.
function(brixa_header_check name)
  brixa_platform_sources(headers ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(units)
  foreach(header ${headers})
    file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${header})
    string(REGEX REPLACE "\\.h$" ".cpp" unit ${CMAKE_BINARY_DIR}/header_check/${name}/${relative})
    file(CONFIGURE OUTPUT ${unit} CONTENT
      "#include \"${name}/${relative}\"\n#include \"${name}/${relative}\"\n")
    list(APPEND units ${unit})
  endforeach()
  if(NOT units)
    return()
  endif()
  add_library(brixa_${name}_headers OBJECT EXCLUDE_FROM_ALL ${units})
  target_link_libraries(brixa_${name}_headers PRIVATE brixa_${name})
  if(NOT TARGET brixa_header_check)
    add_custom_target(brixa_header_check)
  endif()
  add_dependencies(brixa_header_check brixa_${name}_headers)
endfunction()
