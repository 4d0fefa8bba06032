# Writes the build-version header: the project version from the top-level
# project() call and, in a git checkout, the commit the tree was built from.
# Run at every build (cmake -P) so a new commit shows without reconfiguring;
# configure_file leaves the header untouched when nothing changed, so nothing
# is recompiled then.
#   -DQL_VERSION=<x.y> -DQL_SOURCE_DIR=<tree> -DQL_TEMPLATE=<in> -DQL_OUTPUT=<header>
set(QL_GIT_COMMIT "")
find_program(QL_GIT git)
if(QL_GIT AND EXISTS "${QL_SOURCE_DIR}/.git")
  execute_process(
    COMMAND "${QL_GIT}" -C "${QL_SOURCE_DIR}" rev-parse --short=12 HEAD
    OUTPUT_VARIABLE QL_GIT_COMMIT
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE git_result)
  if(NOT git_result EQUAL 0)
    set(QL_GIT_COMMIT "")
  endif()
endif()
configure_file("${QL_TEMPLATE}" "${QL_OUTPUT}" @ONLY)
