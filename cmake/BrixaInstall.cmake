# `cmake --install` puts the library where another CMake project finds it:
#
#   find_package(Brixa REQUIRED)
#   target_link_libraries(app PRIVATE Brixa::http)
#
# Installed: the static libraries of the four library layers, their headers under
# include/brixa/<layer>/<folder>/ (included as "http/client/http.h", as inside this tree), and the package files
# under lib/cmake/Brixa/. The updater program and the tools are not part of the package.
include(CMakePackageConfigHelpers)

set(BRIXA_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Brixa)
install(TARGETS brixa_platform brixa_runtime brixa_transport brixa_http EXPORT BrixaTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(layer platform runtime transport http)
  brixa_platform_sources(headers ${PROJECT_SOURCE_DIR}/${layer}/*.h)
  foreach(header ${headers})
    # Each header keeps its folder below the layer, as the includes inside the tree name it.
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${header})
    get_filename_component(folder ${relative} DIRECTORY)
    install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/brixa/${folder})
  endforeach()
endforeach()
install(EXPORT BrixaTargets NAMESPACE Brixa:: DESTINATION ${BRIXA_PACKAGE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/BrixaConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/BrixaConfig.cmake INSTALL_DESTINATION ${BRIXA_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/BrixaConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/BrixaConfig.cmake
  ${CMAKE_BINARY_DIR}/package/BrixaConfigVersion.cmake DESTINATION ${BRIXA_PACKAGE_DIR})
