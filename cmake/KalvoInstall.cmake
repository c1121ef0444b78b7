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
install(FILES ${PROJECT_SOURCE_DIR}/api/include/kalvo/kalvo_errors.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kalvo)

# pkg-config files beside the CMake package: "pkg-config --cflags --libs
# kalvo" for an application, "pkg-config ... pcimaster64" (dualmaster,
# cardmaster) for a program that drives a board library directly. The board
# libraries have bare file names (they are loaded by name), so they are
# linked by file name.
function(kalvo_pkg_config file name description libs)
  set(PC_NAME "${name}")
  set(PC_DESCRIPTION "${description}")
  set(PC_LIBS "${libs}")
  # From <libdir>/pkgconfig up to the prefix: one ".." per folder.
  string(REGEX MATCHALL "[^/]+" parts "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  set(PC_UP "")
  foreach(part IN LISTS parts)
    string(APPEND PC_UP "../")
  endforeach()
  string(REGEX REPLACE "/$" "" PC_UP "${PC_UP}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kalvo-library.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/${file}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${file}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
kalvo_pkg_config(kalvo Kalvo "The Kalvo fieldbus application API (kalvo/kalvo.h)" "-lKalvo")
foreach(board IN ITEMS Pcimaster64 Dualmaster Cardmaster)
  string(TOLOWER ${board} file)
  kalvo_pkg_config(${file} ${board} "The ${board} master-board library (kalvo/board_library.h)"
    "-l:${board}.so")
endforeach()
