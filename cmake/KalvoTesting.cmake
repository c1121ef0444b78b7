# kalvo_add_test(NAME <name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable; every case becomes a CTest test. Cases run with a
# private runtime namespace (KALVO_RUNTIME_DIR) created by the test fixture, so
# the suite runs in parallel and never touches a user's named objects.
function(kalvo_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} KalvoTestSupport GTest::gtest GTest::gmock)
  # The support library links the kernel runtime for the tests that need it;
  # the others do not load it.
  target_link_options(${T_NAME} PRIVATE -Wl,--as-needed)
  set(props TIMEOUT 300)
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# kalvo_add_e2e_test(NAME <name> SOURCES ... LIBS ...)
# A suite in tests/e2e that crosses layers: real processes against a private
# device host, so labelled concurrency (the ThreadSanitizer run).
function(kalvo_add_e2e_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  kalvo_add_test(NAME ${T_NAME} SOURCES ${T_SOURCES} LIBS ${T_LIBS} LABELS concurrency)
endfunction()
