# Install step: libraries, public headers, pkg-config files, the CMake
# package (find_package(Kalvo)) and the data the programs find under
# share/kalvo. Every rule names its component, the Debian package it goes to
# (packaging/deb/Packaging.cmake): libs, dev, tools, devhost or gui.
include(CMakePackageConfigHelpers)

install(EXPORT KalvoTargets NAMESPACE Kalvo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kalvo
  COMPONENT dev)
configure_package_config_file(cmake/KalvoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KalvoConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kalvo)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KalvoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KalvoConfig.cmake ${PROJECT_BINARY_DIR}/KalvoConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kalvo COMPONENT dev)

# The application API library (applications link libKalvo.so, the soname is
# libKalvo.so.0) and the public headers: the API, the board library and the
# names and texts of both libraries' return codes. Nothing else of the tree
# is installed as a header.
install(TARGETS Kalvo EXPORT KalvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/api/include/kalvo/kalvo.h
  ${PROJECT_SOURCE_DIR}/api/include/kalvo/kalvo_errors.h
  ${PROJECT_SOURCE_DIR}/boardlib/include/kalvo/board_library.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kalvo COMPONENT dev)

# The example configuration folder (one PCI board with a unit of each
# family) and the model table the configuration tools fall back on; the
# programs find both relative to themselves (platform/data_dir.h). The build
# tree has the same layout, so the programs in build/bin find them too.
set(KALVO_EXAMPLE_FOLDER ${PROJECT_SOURCE_DIR}/api/sample/config)
install(FILES ${KALVO_EXAMPLE_FOLDER}/Kalvo.ini ${KALVO_EXAMPLE_FOLDER}/ModelTbl.ini
  ${KALVO_EXAMPLE_FOLDER}/KalvoConfig.dat
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kalvo/example COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/tool/ModelTbl.ini
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kalvo COMPONENT tools)
file(COPY ${PROJECT_SOURCE_DIR}/tool/ModelTbl.ini DESTINATION ${PROJECT_BINARY_DIR}/share/kalvo)
file(COPY ${KALVO_EXAMPLE_FOLDER}/Kalvo.ini ${KALVO_EXAMPLE_FOLDER}/ModelTbl.ini
  ${KALVO_EXAMPLE_FOLDER}/KalvoConfig.dat DESTINATION ${PROJECT_BINARY_DIR}/share/kalvo/example)

# pkg-config files: "pkg-config --cflags --libs kalvo" for an application,
# "pkg-config ... pcimaster64" (dualmaster, cardmaster) for a program that
# drives a board library directly. The board libraries have bare file names
# (they are loaded by name), so they are linked by file name. The paths name
# the install prefix; no rpath: the libraries are in the system's folders.
function(kalvo_pkg_config file name description libs)
  kalvo_install_configured(TEMPLATE ${PROJECT_SOURCE_DIR}/cmake/kalvo-library.pc.in
    NAME ${file}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev
    VARIABLES "PC_NAME=${name}" "PC_DESCRIPTION=${description}" "PC_LIBS=${libs}"
    "CMAKE_INSTALL_LIBDIR=${CMAKE_INSTALL_LIBDIR}" "CMAKE_INSTALL_INCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}"
    "PROJECT_VERSION=${PROJECT_VERSION}")
endfunction()
kalvo_pkg_config(kalvo Kalvo "The Kalvo fieldbus application API (kalvo/kalvo.h)" "-lKalvo")
foreach(board IN ITEMS Pcimaster64 Dualmaster Cardmaster)
  string(TOLOWER ${board} file)
  kalvo_pkg_config(${file} ${board} "The ${board} master-board library (kalvo/board_library.h)"
    "-l:${board}.so")
endforeach()
