# The "// links:" convention of the one-file programs (benchmarks, fuzz
# targets): a source names the project libraries it needs in a comment line of
# its own, for example
#     // links: ql_json ql_log
# and is linked against every project library without one.

set(QL_ALL_PROJECT_LIBRARIES ql_thumbnail ql_ipc ql_main ql_json ql_encoding ql_log ql_base libjson)

# The libraries named by the "// links:" line of `source`, or all of them.
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
