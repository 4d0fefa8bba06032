# Shared by the libFuzzer build (fuzz/CMakeLists.txt) and the corpus replay
# under ctest (fuzz/replay.cmake).
#
# Every fuzz/<name>_fuzzer.cc is one target. It names the project libraries
# it needs in a comment line of its own, for example
#     // links: ql_json ql_log
# Without such a line it is linked against every project library.

set(QL_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QL_ALL_PROJECT_LIBRARIES ql_thumbnail ql_ipc ql_main ql_json ql_encoding ql_log libjson)

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

# The libraries named by the "// links:" line of a source file.
function(ql_source_links source out_var)
  file(STRINGS ${source} line REGEX "^// links:" LIMIT_COUNT 1)
  if(line)
    string(REGEX REPLACE "^// links:[ \t]*" "" libs "${line}")
    separate_arguments(libs)
  else()
    set(libs)
    foreach(lib ${QL_ALL_PROJECT_LIBRARIES})
      if(TARGET ${lib})
        list(APPEND libs ${lib})
      endif()
    endforeach()
  endif()
  set(${out_var} ${libs} PARENT_SCOPE)
endfunction()
