# Packaging of libzelplay.so: the library, its public headers, a pkg-config file and a CMake
# package (find_package(Zelplay) gives Zelplay::zelplay). Everything is in the install
# component "zelplay", so `cmake --install <build> --component zelplay` installs just this.
#
# Layout under the prefix:
#   lib/libzelplay.so*                       the library
#   include/zelplay/zelplay.h                the one header callers include
#   include/zelplay/zelplay/*.h              the groups of exports it brings in
#   lib/pkgconfig/zelplay.pc                 cflags -I<prefix>/include/zelplay, libs -lzelplay
#   lib/cmake/Zelplay/ZelplayConfig.cmake    imported target Zelplay::zelplay
include(CMakePackageConfigHelpers)

set(ZELPLAY_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zelplay)
set(ZELPLAY_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS zelplay EXPORT ZelplayTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT zelplay NAMELINK_COMPONENT zelplay
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelplay)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/include/zelplay.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelplay COMPONENT zelplay)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/zelplay
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelplay COMPONENT zelplay
  FILES_MATCHING PATTERN "*.h")

install(EXPORT ZelplayTargets NAMESPACE Zelplay:: FILE ZelplayTargets.cmake
  DESTINATION ${ZELPLAY_CMAKE_DIR} COMPONENT zelplay)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/ZelplayConfig.cmake.in [=[
# CMake package of libzelplay: find_package(Zelplay) gives the imported target
# Zelplay::zelplay (the shared library with its include directory).
@PACKAGE_INIT@

include("${CMAKE_CURRENT_LIST_DIR}/ZelplayTargets.cmake")
check_required_components(Zelplay)
]=])
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/ZelplayConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ZelplayConfig.cmake
  INSTALL_DESTINATION ${ZELPLAY_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZelplayConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZelplayConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/ZelplayConfigVersion.cmake
  DESTINATION ${ZELPLAY_CMAKE_DIR} COMPONENT zelplay)

# The .pc file finds the prefix from its own place, so the tree can be moved or installed
# with another --prefix than the one configured.
file(RELATIVE_PATH ZELPLAY_PC_TO_PREFIX
  /prefix/${ZELPLAY_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" ZELPLAY_PC_TO_PREFIX "${ZELPLAY_PC_TO_PREFIX}")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/zelplay.pc @ONLY CONTENT [=[
prefix=${pcfiledir}/@ZELPLAY_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@/zelplay

Name: zelplay
Description: Playback library for recorder streams and files, with the recorders' voice codec
Version: @PROJECT_VERSION@
Libs: -L${libdir} -lzelplay
Cflags: -I${includedir}
]=])
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelplay.pc
  DESTINATION ${ZELPLAY_PKGCONFIG_DIR} COMPONENT zelplay)
