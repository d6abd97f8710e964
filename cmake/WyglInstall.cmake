# Installation: the two libraries, the public headers, the dump tool, and a CMake package
# (find_package(wygl) gives wygl::wygl and wygl::qmtrc).

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
