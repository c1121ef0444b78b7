# The installed command-line programs: one argument parser for all (CLI11),
# the project's version for --version, and a man page made from the
# program's own --help and --version at build time (help2man).
find_package(CLI11 REQUIRED)
find_program(KALVO_HELP2MAN help2man)
if(NOT KALVO_HELP2MAN)
  message(WARNING "help2man not found: no man pages (scripts/install-deps.sh installs it)")
endif()

# kalvo_program(TARGET target NAME "one-line description")
function(kalvo_program)
  cmake_parse_arguments(P "" "TARGET;NAME" "" ${ARGN})
  target_link_libraries(${P_TARGET} PRIVATE CLI11::CLI11)
  target_compile_definitions(${P_TARGET} PRIVATE KALVO_VERSION="${PROJECT_VERSION}")
  target_include_directories(${P_TARGET} PRIVATE ${PROJECT_SOURCE_DIR})
  if(NOT KALVO_HELP2MAN OR KALVO_SANITIZE)
    return()
  endif()
  set(page ${PROJECT_BINARY_DIR}/man/${P_TARGET}.1)
  # In a scratch folder: a program linked with libKalvo loads it at start,
  # and the library writes its log into the current directory.
  set(scratch ${PROJECT_BINARY_DIR}/man/scratch)
  file(MAKE_DIRECTORY ${scratch})
  add_custom_command(OUTPUT ${page}
    COMMAND ${KALVO_HELP2MAN} --no-info --no-discard-stderr --name=${P_NAME}
            --output=${page} $<TARGET_FILE:${P_TARGET}>
    WORKING_DIRECTORY ${scratch}
    DEPENDS ${P_TARGET}
    COMMENT "man page of ${P_TARGET}"
    VERBATIM)
  add_custom_target(${P_TARGET}-man ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
