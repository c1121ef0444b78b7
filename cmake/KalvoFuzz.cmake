# Fuzz targets for every parser of untrusted bytes. A target is an entry point
# LLVMFuzzerTestOneInput in <folder>/<name>_fuzz.cpp, beside the code it
# fuzzes, with its seed corpus in <folder>/corpus/<name>/ and every input that
# once broke it in <folder>/crashes/<name>/ (both checked in).
#
# Normal build (with the tests): fuzz_replay_<name>, the target with a replay
# main, and the CTest test FuzzReplay.<name> that feeds it every file of both
# folders; so CI catches a regression without running a fuzzer.
# KALVO_FUZZ=ON (clang, scripts/fuzz.sh): fuzz_<name>, linked with libFuzzer,
# everything built with ASan+UBSan and coverage instrumentation.
function(kalvo_add_fuzz_target name folder)
  set(source ${PROJECT_SOURCE_DIR}/${folder}/${name}_fuzz.cpp)
  set(corpus ${PROJECT_SOURCE_DIR}/${folder}/corpus/${name})
  set(crashes ${PROJECT_SOURCE_DIR}/${folder}/crashes/${name})
  if(KALVO_FUZZ)
    add_executable(fuzz_${name} ${source})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE ${ARGN})
    target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR})
    add_dependencies(kalvo_fuzz_targets fuzz_${name})
  elseif(KALVO_BUILD_TESTS)
    add_executable(fuzz_replay_${name} ${source} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    target_link_libraries(fuzz_replay_${name} PRIVATE ${ARGN})
    target_include_directories(fuzz_replay_${name} PRIVATE ${PROJECT_SOURCE_DIR})
    add_test(NAME FuzzReplay.${name} COMMAND fuzz_replay_${name} ${corpus} ${crashes})
    set_tests_properties(FuzzReplay.${name} PROPERTIES TIMEOUT 120 LABELS fuzz)
  endif()
endfunction()

if(KALVO_FUZZ)
  add_custom_target(kalvo_fuzz_targets)
endif()

kalvo_add_fuzz_target(profile platform/fuzz KalvoPlatform)
kalvo_add_fuzz_target(format platform/fuzz KalvoPlatform)
kalvo_add_fuzz_target(log_ini diaglog/fuzz KalvoDiagLog KalvoPlatform)
kalvo_add_fuzz_target(kalvo_ini api/configfiles/fuzz KalvoConfigFiles KalvoPlatform)
kalvo_add_fuzz_target(tool_folder tool/model/fuzz KalvoToolModel)
kalvo_add_fuzz_target(network_file sim/description/fuzz KalvoSimDescription)
kalvo_add_fuzz_target(configuration_folder sim/description/fuzz KalvoSimDescription)
kalvo_add_fuzz_target(board_set sim/fuzz KalvoSim)
kalvo_add_fuzz_target(resource_table pci/fuzz KalvoPci)
kalvo_add_fuzz_target(device_frames kernel/transport/fuzz KalvoTransport KalvoKernel KalvoPlatform)
kalvo_add_fuzz_target(admin_requests host/fuzz KalvoDeviceHost)

# scripts/fuzz.sh runs what this list names: no target source is left out.
if(KALVO_BUILD_TESTS AND NOT KALVO_FUZZ)
  add_test(NAME FuzzTargets.EverySourceIsListed
    COMMAND ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_targets_listed.sh)
  set_tests_properties(FuzzTargets.EverySourceIsListed PROPERTIES LABELS fuzz)
endif()
