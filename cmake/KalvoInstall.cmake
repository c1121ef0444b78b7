# Install step: libraries, public headers and a CMake package (find_package(Kalvo)).
include(CMakePackageConfigHelpers)

install(EXPORT KalvoTargets NAMESPACE Kalvo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kalvo)
configure_package_config_file(cmake/KalvoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KalvoConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kalvo)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KalvoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KalvoConfig.cmake ${PROJECT_BINARY_DIR}/KalvoConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kalvo)
