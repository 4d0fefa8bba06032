# Replays every fuzz target's committed corpus under ctest in the normal (gcc)
# build: each fuzz/<name>_fuzzer.cc is linked with fuzz/replay_main.cc into
# <name>_fuzz_replay, and the test fuzz_replay.<name> feeds it every file of
# fuzz/corpus/<name>/. Included from tests/json/CMakeLists.txt.
include(${CMAKE_CURRENT_LIST_DIR}/fuzz_targets.cmake)

ql_fuzz_sources(ql_fuzz_replay_sources)
foreach(source ${ql_fuzz_replay_sources})
  ql_fuzz_name(${source} name)
  ql_source_links(${source} libs)
  add_executable(${name}_fuzz_replay ${QL_FUZZ_DIR}/replay_main.cc ${source})
  target_link_libraries(${name}_fuzz_replay PRIVATE ${libs})
  add_test(NAME fuzz_replay.${name} COMMAND ${name}_fuzz_replay ${QL_FUZZ_DIR}/corpus/${name})
  set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endforeach()
