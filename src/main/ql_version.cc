#include "main/ql_version.h"

#include "ql_build_version.h"

std::string QLVersion() { return QL_BUILD_VERSION; }

std::string QLGitCommit() { return QL_BUILD_GIT_COMMIT; }

std::string QLVersionLine(std::string const& program) {
  std::string line = program + " " + QLVersion();
  if (!QLGitCommit().empty()) line += " (git " + QLGitCommit() + ")";
  return line;
}
