# Shared by the libFuzzer build (fuzz/CMakeLists.txt) and the corpus replay
# under ctest (fuzz/replay.cmake).
#
# Every fuzz/<name>_fuzzer.cc is one target; it names the libraries it needs
# in a "// links:" line (cmake/ql_source_links.cmake).

set(QL_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/ql_source_links.cmake)

function(ql_fuzz_sources out_var)
  file(GLOB sources CONFIGURE_DEPENDS ${QL_FUZZ_DIR}/*_fuzzer.cc)
  list(SORT sources)
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()

# The target name ("json_parser" for json_parser_fuzzer.cc).
function(ql_fuzz_name source out_var)
  get_filename_component(base ${source} NAME_WE)
  string(REGEX REPLACE "_fuzzer$" "" name ${base})
  set(${out_var} ${name} PARENT_SCOPE)
endfunction()
