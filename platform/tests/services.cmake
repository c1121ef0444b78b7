# Tests of the platform's user-mode services other than the named objects:
# profile files, formatting, time, threads and modules.
set(KALVO_SERVICES_TESTS ${CMAKE_CURRENT_LIST_DIR})

# Profile writers run in several processes at once, so the executable is
# also a concurrency test.
kalvo_add_test(NAME platform_profile_test SOURCES ${KALVO_SERVICES_TESTS}/profile_test.cpp
  LIBS KalvoPlatform LABELS concurrency)
kalvo_add_test(NAME platform_format_test SOURCES ${KALVO_SERVICES_TESTS}/format_test.cpp
  LIBS KalvoPlatform)
kalvo_add_test(NAME platform_clock_test SOURCES ${KALVO_SERVICES_TESTS}/clock_test.cpp
  LIBS KalvoPlatform Threads::Threads LABELS concurrency)
kalvo_add_test(NAME platform_thread_test SOURCES ${KALVO_SERVICES_TESTS}/thread_test.cpp
  LIBS KalvoPlatform Threads::Threads LABELS concurrency)

# Test modules: shared objects with Windows base names and no "lib" prefix,
# as the board libraries are.
set(KALVO_TEST_MODULE_DIR ${PROJECT_BINARY_DIR}/lib/test_modules)
function(kalvo_test_module target output dir)
  add_library(${target} SHARED ${ARGN})
  target_link_libraries(${target} PRIVATE KalvoPlatform)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".so" OUTPUT_NAME ${output}
    LIBRARY_OUTPUT_DIRECTORY ${dir})
endfunction()
kalvo_test_module(kalvo_test_counting_module CountingModule ${KALVO_TEST_MODULE_DIR}
  ${KALVO_SERVICES_TESTS}/modules/counting_module.cpp)
kalvo_test_module(kalvo_test_failing_module FailingModule ${KALVO_TEST_MODULE_DIR}
  ${KALVO_SERVICES_TESTS}/modules/failing_module.cpp)
# One module name, two copies in two directories, and a loader beside copy A.
kalvo_test_module(kalvo_test_search_probe_a SearchProbe ${KALVO_TEST_MODULE_DIR}/search_a
  ${KALVO_SERVICES_TESTS}/modules/search_probe.cpp)
target_compile_definitions(kalvo_test_search_probe_a PRIVATE KALVO_PROBE_ID="A")
kalvo_test_module(kalvo_test_search_probe_b SearchProbe ${KALVO_TEST_MODULE_DIR}/search_b
  ${KALVO_SERVICES_TESTS}/modules/search_probe.cpp)
target_compile_definitions(kalvo_test_search_probe_b PRIVATE KALVO_PROBE_ID="B")
kalvo_test_module(kalvo_test_search_loader libSearchLoader ${KALVO_TEST_MODULE_DIR}/search_a
  ${KALVO_SERVICES_TESTS}/modules/search_loader.cpp)

add_executable(kalvo_test_linked_failing ${KALVO_SERVICES_TESTS}/modules/linked_failing_main.cpp)
target_link_libraries(kalvo_test_linked_failing PRIVATE kalvo_test_failing_module)

kalvo_add_test(NAME platform_module_test SOURCES ${KALVO_SERVICES_TESTS}/module_test.cpp
  LIBS KalvoPlatform ${CMAKE_DL_LIBS} LABELS concurrency)
target_compile_definitions(platform_module_test PRIVATE
  KALVO_TEST_MODULE_DIR="${KALVO_TEST_MODULE_DIR}"
  KALVO_TEST_SEARCH_A_DIR="${KALVO_TEST_MODULE_DIR}/search_a"
  KALVO_TEST_SEARCH_B_DIR="${KALVO_TEST_MODULE_DIR}/search_b"
  KALVO_TEST_LINKED_FAILING="$<TARGET_FILE:kalvo_test_linked_failing>")
add_dependencies(platform_module_test kalvo_test_counting_module kalvo_test_failing_module
  kalvo_test_search_probe_a kalvo_test_search_probe_b kalvo_test_search_loader
  kalvo_test_linked_failing)
kalvo_add_test(NAME platform_device_folder_test
  SOURCES ${KALVO_SERVICES_TESTS}/device_folder_test.cpp LIBS KalvoPlatform)
