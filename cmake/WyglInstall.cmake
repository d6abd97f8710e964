# Installation: the two libraries, the public headers (include/wygl/ and include/qmtrc/), the
# dump tool, a CMake package (find_package(wygl) gives wygl::wygl and wygl::qmtrc) and
# pkg-config files (wygl.pc, which requires qmtrc.pc). Nothing in it names the prefix: the
# libraries find each other through RUNPATH $ORIGIN, and the pkg-config files count their
# prefix from their own folder, so `cmake --install BUILD --prefix DIR` works for any DIR.

include(CMakePackageConfigHelpers)

install(TARGETS wygl EXPORT wyglTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/wygl ${PROJECT_BINARY_DIR}/include/wygl
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT wyglTargets NAMESPACE wygl:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/wygl)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/wyglConfig.cmake.in
  ${PROJECT_BINARY_DIR}/wyglConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/wygl)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/wyglConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/wyglConfig.cmake ${PROJECT_BINARY_DIR}/wyglConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/wygl)

# The pkg-config files live in LIBDIR/pkgconfig; their prefix is that folder's way back up
# ("${pcfiledir}/../.." for lib/pkgconfig).
cmake_path(RELATIVE_PATH CMAKE_INSTALL_PREFIX BASE_DIRECTORY ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
  OUTPUT_VARIABLE WYGL_PC_UP)
string(REGEX REPLACE "/$" "" WYGL_PC_UP "${WYGL_PC_UP}")
set(WYGL_PC_PREFIX "\${pcfiledir}/${WYGL_PC_UP}")
foreach(package qmtrc wygl)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${package}.pc.in
    ${PROJECT_BINARY_DIR}/${package}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${package}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
