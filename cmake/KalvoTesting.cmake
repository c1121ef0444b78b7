# kalvo_add_test(NAME <name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable; every case becomes a CTest test. Cases run with a
# private runtime namespace (KALVO_RUNTIME_DIR) created by the test fixture, so
# the suite runs in parallel and never touches a user's named objects.
#
# Every test program reuses one precompiled GoogleTest header (kalvo_test_pch,
# below); with KALVO_TEST_UNITY each compiles its sources as one unit (names
# in the anonymous namespaces of its files must then differ). The programs
# labelled concurrency are collected in the target kalvo_concurrency_tests,
# which is all the ThreadSanitizer run builds.
function(kalvo_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} KalvoTestSupport GTest::gtest GTest::gmock)
  # The support library links the kernel runtime for the tests that need it;
  # the others do not load it.
  target_link_options(${T_NAME} PRIVATE -Wl,--as-needed)
  if(KALVO_TEST_PCH)
    set_target_properties(${T_NAME} PROPERTIES PRECOMPILE_HEADERS_REUSE_FROM kalvo_test_pch)
    target_compile_options(${T_NAME} PRIVATE ${KALVO_TEST_PCH_OPTIONS})
  endif()
  if(KALVO_TEST_UNITY)
    set_target_properties(${T_NAME} PROPERTIES UNITY_BUILD ON)
  endif()
  set(props TIMEOUT 300)
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  # ctest selects labels by regular expression: "concurrency-e2e" is in the
  # concurrency run and in the e2e one.
  if(T_LABELS MATCHES "concurrency")
    set_property(GLOBAL APPEND PROPERTY KALVO_CONCURRENCY_TESTS ${T_NAME})
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# kalvo_add_e2e_test(NAME <name> SOURCES ... LIBS ...)
# A suite in tests/e2e that crosses layers: real processes against a private
# device host, so labelled concurrency-e2e: in the ThreadSanitizer run
# (label concurrency) and in the run as an unprivileged user (label e2e,
# scripts/test-as-user.sh).
function(kalvo_add_e2e_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  kalvo_add_test(NAME ${T_NAME} SOURCES ${T_SOURCES} LIBS ${T_LIBS} LABELS concurrency-e2e)
endfunction()

# The precompiled GoogleTest and GoogleMock headers every test program reuses.
# An executable, so that its flags are those of the test programs; defined
# before any test, which names it.
# Through a precompiled header GCC 12 no longer treats the standard library
# as a system header and reports its own inlined string copies as out of
# bounds (a known false positive), so test programs do without those two.
set(KALVO_TEST_PCH_OPTIONS -Wno-array-bounds -Wno-stringop-overflow)
if(KALVO_TEST_PCH)
  add_executable(kalvo_test_pch ${PROJECT_SOURCE_DIR}/tests/support/pch_main.cpp)
  target_link_libraries(kalvo_test_pch PRIVATE KalvoTestSupport GTest::gtest GTest::gmock)
  target_precompile_headers(kalvo_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  target_compile_options(kalvo_test_pch PRIVATE ${KALVO_TEST_PCH_OPTIONS})
endif()
