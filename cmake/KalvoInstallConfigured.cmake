# kalvo_install_configured(TEMPLATE file NAME name DESTINATION folder COMPONENT c
#                          [VARIABLES NAME=value ...] [GZIP])
# Installs a file configured at install time (@NAME@ replaced), so that
# @KALVO_PREFIX@ is the prefix the files really go to: cmake --install
# --prefix, or /usr when cpack makes the packages. A relative DESTINATION is
# under that prefix. GZIP installs it compressed (name.gz), as manual pages
# are.
function(kalvo_install_configured)
  cmake_parse_arguments(C "GZIP" "TEMPLATE;NAME;DESTINATION;COMPONENT" "VARIABLES" ${ARGN})
  if(C_UNPARSED_ARGUMENTS OR NOT C_TEMPLATE OR NOT C_NAME OR NOT C_DESTINATION OR NOT C_COMPONENT)
    message(FATAL_ERROR "kalvo_install_configured: bad arguments ${ARGN}")
  endif()
  set(sets "")
  foreach(pair IN LISTS C_VARIABLES)
    string(REGEX MATCH "^([A-Za-z_]+)=(.*)$" _ "${pair}")
    string(APPEND sets "set(${CMAKE_MATCH_1} [==[${CMAKE_MATCH_2}]==])\n")
  endforeach()
  set(out "${PROJECT_BINARY_DIR}/install-time/${C_COMPONENT}/${C_NAME}")
  if(IS_ABSOLUTE "${C_DESTINATION}")
    set(dest "${C_DESTINATION}")
  else()
    set(dest "\${CMAKE_INSTALL_PREFIX}/${C_DESTINATION}")
  endif()
  foreach(pair IN LISTS C_VARIABLES)
    string(REGEX MATCH "^([A-Za-z_]+)=" _ "${pair}")
    string(APPEND sets "string(REPLACE [==[@KALVO_PREFIX@]==] \"\${KALVO_PREFIX}\" ${CMAKE_MATCH_1} \"\${${CMAKE_MATCH_1}}\")\n")
  endforeach()
  set(configured "${out}")
  set(compress "")
  if(C_GZIP)
    set(compress "execute_process(COMMAND gzip -9nf [==[${out}]==] COMMAND_ERROR_IS_FATAL ANY)\n")
    string(APPEND out ".gz")
  endif()
  install(CODE "set(KALVO_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
${sets}configure_file([==[${C_TEMPLATE}]==] [==[${configured}]==] @ONLY)
${compress}file(INSTALL DESTINATION \"${dest}\" TYPE FILE FILES [==[${out}]==])"
    COMPONENT ${C_COMPONENT})
endfunction()
