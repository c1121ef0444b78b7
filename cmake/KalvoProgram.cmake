# The installed command-line programs: one argument parser for all (CLI11),
# the project's version for --version, a man page made from the program's
# own --help, --version and command table at build time (help2man, with a
# section per command), and its bash completion.
find_package(CLI11 REQUIRED)
find_program(KALVO_HELP2MAN help2man)
if(NOT KALVO_HELP2MAN)
  message(WARNING "help2man not found: no man pages (scripts/install-deps.sh installs it)")
endif()
find_package(Python3 COMPONENTS Interpreter)

# kalvo_program(TARGET target NAME "one-line description" COMPONENT component
#               [SECTION 8])
# Installs the program into bin/ and, under share/, its man page (section 1
# unless SECTION says otherwise) and its bash completion
# (packaging/completion/<target>.bash, which every program has).
function(kalvo_program)
  cmake_parse_arguments(P "" "TARGET;NAME;COMPONENT;SECTION" "" ${ARGN})
  if(P_UNPARSED_ARGUMENTS OR NOT P_TARGET OR NOT P_NAME OR NOT P_COMPONENT)
    message(FATAL_ERROR "kalvo_program: TARGET, NAME and COMPONENT are needed: ${ARGN}")
  endif()
  if(NOT P_SECTION)
    set(P_SECTION 1)
  endif()
  target_link_libraries(${P_TARGET} PRIVATE CLI11::CLI11)
  target_compile_definitions(${P_TARGET} PRIVATE KALVO_VERSION="${PROJECT_VERSION}")
  target_include_directories(${P_TARGET} PRIVATE ${PROJECT_SOURCE_DIR})
  install(TARGETS ${P_TARGET} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${P_COMPONENT})
  kalvo_completion(${P_TARGET} ${P_COMPONENT})
  set_property(GLOBAL APPEND PROPERTY KALVO_PROGRAMS ${P_TARGET})
  if(NOT KALVO_HELP2MAN OR NOT Python3_Interpreter_FOUND OR KALVO_SANITIZE)
    return()
  endif()
  set(page ${PROJECT_BINARY_DIR}/man/man${P_SECTION}/${P_TARGET}.${P_SECTION})
  # In a scratch folder: a program linked with libKalvo loads it at start,
  # and the library writes its log into the current directory.
  set(scratch ${PROJECT_BINARY_DIR}/man/scratch)
  file(MAKE_DIRECTORY ${scratch})
  add_custom_command(OUTPUT ${page} ${page}.gz
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/docs/man/program_page.py
            --help2man ${KALVO_HELP2MAN} --name ${P_NAME} --section ${P_SECTION}
            --output ${page} $<TARGET_FILE:${P_TARGET}>
    COMMAND gzip -9nkf ${page}
    WORKING_DIRECTORY ${scratch}
    DEPENDS ${P_TARGET} ${PROJECT_SOURCE_DIR}/docs/man/program_page.py
    COMMENT "man page of ${P_TARGET}"
    VERBATIM)
  add_custom_target(${P_TARGET}-man ALL DEPENDS ${page})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${P_SECTION}
    COMPONENT ${P_COMPONENT})
endfunction()

# The bash completion of a program: the helpers every program's script
# shares, then the program's own part, as one file named after the program
# where bash-completion looks for it when the program's name is first
# completed.
function(kalvo_completion program component)
  set(own ${PROJECT_SOURCE_DIR}/packaging/completion/${program}.bash)
  set(common ${PROJECT_SOURCE_DIR}/packaging/completion/common.bash)
  if(NOT EXISTS ${own})
    message(FATAL_ERROR "${program} has no bash completion: write ${own}")
  endif()
  file(READ ${common} common_text)
  file(READ ${own} own_text)
  set(out ${PROJECT_BINARY_DIR}/share/bash-completion/completions/${program})
  file(WRITE ${out} "${common_text}${own_text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${common} ${own})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    COMPONENT ${component})
endfunction()
