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

# The application API library, its public header and the sample program with
# its example configuration folder.
install(TARGETS Kalvo EXPORT KalvoTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/api/include/kalvo/kalvo.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kalvo)
install(TARGETS kalvo-sample RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/api/sample/config/Kalvo.ini ${PROJECT_SOURCE_DIR}/api/sample/config/ModelTbl.ini
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kalvo/sample-config)
