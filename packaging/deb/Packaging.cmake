# The Debian packages, made by CPack from this build's install rules
# (scripts/package.sh, or cpack -G DEB in the build folder). Each install
# component is one package:
#   libs     libkalvo0      the libraries
#   dev      libkalvo-dev   headers, pkg-config files, CMake package, reference, examples
#   tools    kalvo-tools    kalvo, kalvo-config, kalvo-devctl, kalvo-devprobe, kalvo-sample
#   devhost  kalvo-devhost  the device host as a system service, its drivers
#   gui      kalvoconfig    the configuration tool's desktop program
#   python   python3-kalvo  the Python package kalvo
# Versions come from the project's version (0.1.0 gives 0.1.0-1). The
# packages are made for /usr; the build folder may be configured for any
# prefix, as every path that names the prefix is written at install time.
set(KALVO_DEB_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KALVO_DEB_REVISION 1)
set(KALVO_DEB_VERSION "${PROJECT_VERSION}-${KALVO_DEB_REVISION}")
set(KALVO_DEB_MAINTAINER "Kalvo developers <kalvo-dev@lists.kalvo.invalid>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KALVO_DEB_MAINTAINER}")
# Each package has its own summary (kalvo_deb_package); CPack puts the
# project's summary before it unless the summary is its own default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KALVO_DEB_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kalvo.invalid/")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Depends from the ELF files (dpkg-shlibdeps). It runs in the folder each
# package is staged in, beside the others, so it finds the packages' own
# libraries (libKalvoPlatform.so.0, libKalvo.so.0, the host's kernel
# runtime) in the folders of their packages. The shlibs file of libkalvo0
# lets packages made elsewhere depend on it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ../libs/usr/${CMAKE_INSTALL_LIBDIR} ../devhost/usr/${KALVO_PRIVATE_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_KALVO_LIBDIR ${CMAKE_INSTALL_LIBDIR})

set(KALVO_DEB_COMPONENTS "")

# kalvo_deb_package(COMPONENT c NAME package SECTION s SUMMARY "one line"
#                   DESCRIPTION "paragraph" [DEPENDS ...] [RECOMMENDS ...]
#                   [CONTROL_EXTRA file...])
# One place for every field of a package: CPack ignores a misspelled
# variable without a word, so nothing else sets them. Also installs the
# package's copyright and changelog where Debian wants them.
function(kalvo_deb_package)
  cmake_parse_arguments(D "" "COMPONENT;NAME;SECTION;SUMMARY;DESCRIPTION"
    "DEPENDS;RECOMMENDS;CONTROL_EXTRA" ${ARGN})
  if(D_UNPARSED_ARGUMENTS OR NOT D_COMPONENT OR NOT D_NAME OR NOT D_SECTION OR NOT D_SUMMARY
     OR NOT D_DESCRIPTION)
    message(FATAL_ERROR "kalvo_deb_package: bad arguments ${ARGN}")
  endif()
  string(TOUPPER ${D_COMPONENT} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${D_NAME} PARENT_SCOPE)
  set(CPACK_DEBIAN_${C}_PACKAGE_SECTION ${D_SECTION} PARENT_SCOPE)
  set(CPACK_DEBIAN_${C}_DESCRIPTION "${D_SUMMARY}\n${D_DESCRIPTION}" PARENT_SCOPE)
  list(JOIN D_DEPENDS ", " depends)
  set(CPACK_DEBIAN_${C}_PACKAGE_DEPENDS "${depends}" PARENT_SCOPE)
  if(D_RECOMMENDS)
    list(JOIN D_RECOMMENDS ", " recommends)
    set(CPACK_DEBIAN_${C}_PACKAGE_RECOMMENDS "${recommends}" PARENT_SCOPE)
  endif()
  if(D_CONTROL_EXTRA)
    set(CPACK_DEBIAN_${C}_PACKAGE_CONTROL_EXTRA "${D_CONTROL_EXTRA}" PARENT_SCOPE)
    set(CPACK_DEBIAN_${C}_PACKAGE_CONTROL_STRICT_PERMISSION ON PARENT_SCOPE)
  endif()
  set(KALVO_DEB_COMPONENTS ${KALVO_DEB_COMPONENTS} ${D_COMPONENT} PARENT_SCOPE)

  install(FILES ${PROJECT_BINARY_DIR}/deb/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${D_NAME}
    COMPONENT ${D_COMPONENT})
  install(FILES ${PROJECT_BINARY_DIR}/deb/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${D_NAME} COMPONENT ${D_COMPONENT})
endfunction()

# The copyright file of every package, with the year of this build.
string(TIMESTAMP KALVO_DEB_YEAR "%Y" UTC)
configure_file(${KALVO_DEB_DIR}/copyright.in ${PROJECT_BINARY_DIR}/deb/copyright @ONLY)

# The Debian changelog of the packages (compressed as Debian wants it, with
# no time stamp in the gzip header, so the same version gives the same file).
string(TIMESTAMP KALVO_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${KALVO_DEB_DIR}/changelog.in ${PROJECT_BINARY_DIR}/deb/changelog @ONLY)
find_program(KALVO_GZIP gzip REQUIRED)
execute_process(COMMAND ${KALVO_GZIP} -9nf -k ${PROJECT_BINARY_DIR}/deb/changelog COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${PROJECT_BINARY_DIR}/deb/changelog.gz ${PROJECT_BINARY_DIR}/deb/changelog.Debian.gz)

set(KALVO_DEB_SAME "(= ${KALVO_DEB_VERSION})")
kalvo_deb_package(COMPONENT libs NAME libkalvo0 SECTION libs
  SUMMARY "Kalvo fieldbus stack: application API and master-board libraries"
  DESCRIPTION "The Kalvo application API library (libKalvo.so.0), the three
master-board libraries Pcimaster64, Dualmaster and Cardmaster that it loads by
the Kind of each board in Kalvo.ini, and the platform library they share."
  CONTROL_EXTRA ${KALVO_DEB_DIR}/libkalvo0/triggers)
kalvo_deb_package(COMPONENT dev NAME libkalvo-dev SECTION libdevel
  SUMMARY "Kalvo fieldbus stack: development files"
  DESCRIPTION "The public C headers kalvo/kalvo.h, kalvo/board_library.h and
kalvo/kalvo_errors.h, pkg-config files (kalvo, pcimaster64, dualmaster,
cardmaster), the CMake package (find_package(Kalvo)), a manual page per call,
the HTML reference and example programs for each unit family."
  DEPENDS "libkalvo0 ${KALVO_DEB_SAME}")
kalvo_deb_package(COMPONENT tools NAME kalvo-tools SECTION utils
  SUMMARY "Kalvo fieldbus stack: command-line tools"
  DESCRIPTION "kalvo (the network as an application sees it, unit values,
doctor), kalvo-config (configuration folders), kalvo-devctl (the device
host's companion), kalvo-devprobe and kalvo-sample, with the example
configuration folder and the model table under /usr/share/kalvo."
  DEPENDS "libkalvo0 ${KALVO_DEB_SAME}"
  RECOMMENDS "kalvo-devhost ${KALVO_DEB_SAME}")
kalvo_deb_package(COMPONENT devhost NAME kalvo-devhost SECTION misc
  SUMMARY "Kalvo fieldbus stack: device host and board drivers"
  DESCRIPTION "The device host that loads the board drivers and serves the
master boards, simulated or in the PCI slots, to the programs of group kalvo,
as a system service with its user, group and udev rules."
  DEPENDS "libkalvo0 ${KALVO_DEB_SAME}"
  CONTROL_EXTRA ${KALVO_DEB_DIR}/kalvo-devhost/postinst ${KALVO_DEB_DIR}/kalvo-devhost/prerm
    ${KALVO_DEB_DIR}/kalvo-devhost/postrm)
kalvo_deb_package(COMPONENT gui NAME kalvoconfig SECTION misc
  SUMMARY "Kalvo fieldbus stack: configuration tool"
  DESCRIPTION "KalvoConfig lays out a plant's Kalvo network on a desktop and
writes its configuration folder, as kalvo-config does from a script."
  DEPENDS "libkalvo0 ${KALVO_DEB_SAME}" "kalvo-tools ${KALVO_DEB_SAME}")

# The Python package (python/), when the build found a Python for it.
if(TARGET kalvo_python)
  kalvo_deb_package(COMPONENT python NAME python3-kalvo SECTION python
    SUMMARY "Kalvo fieldbus stack: the application API for Python"
    DESCRIPTION "The Python package kalvo: the unit families of the application API as
classes over libKalvo (ctypes), exceptions that name every return code, and a
pytest plugin that gives tests a private simulated network."
    DEPENDS "libkalvo0 ${KALVO_DEB_SAME}" "python3"
    RECOMMENDS "kalvo-devhost ${KALVO_DEB_SAME}")
endif()

set(CPACK_COMPONENTS_ALL ${KALVO_DEB_COMPONENTS})
include(CPack)
