# The Debian package of the programs: `cmake --build build --target package` (or `cpack` in
# the build folder) makes vidwall_<version>_<arch>.deb from the install component "vidwall":
# vidwall, libmonvid.so, monvid-regsvr, ifvtool, monvid-demo, the translation catalogs, the
# menu entry and the icon, under /usr. The playback library's developer files (component
# "zelplay") are not part of it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vidwall)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Monvid")
set(CPACK_PACKAGE_CONTACT "Monvid developers <monvid-dev@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "video wall for RTSP and RTMP cameras and video files")
set(CPACK_PACKAGE_DESCRIPTION
  "vidwall shows 1, 2, 4, 9 or 16 RTSP or RTMP addresses or video files at once, each in a\n\
window of its own, as set in a set.ini file. It runs in a window or full screen (kiosk\n\
mode), in Chinese or English. The package also holds the video wall control libmonvid.so\n\
for other programs, its registration tool monvid-regsvr, monvid-demo and ifvtool, a tool\n\
for recorder files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# One package of the one component: only its files are installed into the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};vidwall;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link come from dpkg-shlibdeps; what they load or draw with at run
# time is named here: Qt's X11 platform plugin and the Chinese font the texts need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/control)  # libmonvid.so
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)
