// The program's version: the project version the build was configured with
// and, when it was built from a git checkout, that checkout's commit.
//
// Constant data; any thread may call.
#ifndef QUORLIN_MAIN_QL_VERSION_H_
#define QUORLIN_MAIN_QL_VERSION_H_

#include <string>

// "0.1", the project version.
std::string QLVersion();
// The abbreviated commit, or empty when not built from a checkout.
std::string QLGitCommit();
// "<program> <version>" plus " (git <commit>)" when the commit is known.
std::string QLVersionLine(std::string const& program);

#endif  // QUORLIN_MAIN_QL_VERSION_H_
