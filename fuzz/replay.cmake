# Replays every fuzz target's committed corpus under ctest in the normal (gcc)
# build: each fuzz/<name>_fuzzer.cc is linked with fuzz/replay_main.cc into
# <name>_fuzz_replay, and the test fuzz_replay.<name> feeds it every file of
# fuzz/corpus/<name>/. Included from tests/json/CMakeLists.txt.
function(ql_fuzz_target name)
  add_executable(${name}_fuzz_replay ${QL_FUZZ_DIR}/replay_main.cc
                                     ${QL_FUZZ_DIR}/${name}_fuzzer.cc)
  target_link_libraries(${name}_fuzz_replay PRIVATE ${ARGN})
  add_test(NAME fuzz_replay.${name} COMMAND ${name}_fuzz_replay ${QL_FUZZ_DIR}/corpus/${name})
  set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  # A sanitized build replays with the target's leak suppressions (fuzz/run.sh).
  if(EXISTS ${QL_FUZZ_DIR}/${name}.lsan.supp)
    set_tests_properties(fuzz_replay.${name} PROPERTIES ENVIRONMENT
                         LSAN_OPTIONS=suppressions=${QL_FUZZ_DIR}/${name}.lsan.supp)
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/fuzz_targets.cmake)
