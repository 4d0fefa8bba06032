// The sandbox of the document decoder helper: from the call on, the process
// (and anything it starts) may read files only under the folders fonts and
// a renderer's data come from, may write, create or remove no file, and may
// open no socket. Descriptors already open, and one received later over the
// job socket, keep working.
//
// Built on Landlock (Linux 5.13 on; the rights of the newest ABI the kernel
// offers are all taken) and a seccomp filter on socket(2); both need
// no_new_privs, which the call sets. A kernel without Landlock leaves only
// the socket filter.
//
// Contract: called once, from main, on the program's only thread, before any
// hostile byte is read.
#ifndef QUORLIN_MEDIA_QL_HELPER_SANDBOX_H_
#define QUORLIN_MEDIA_QL_HELPER_SANDBOX_H_

#include <string>

// The folders the sandbox leaves readable.
extern char const* const kQLSandboxReadableFolders[4];

// Enters the sandbox. False, with `*error` saying which part failed, when
// a part the kernel offers could not be set up; the caller then decodes
// nothing.
bool EnterDocumentSandbox(std::string* error);

#endif  // QUORLIN_MEDIA_QL_HELPER_SANDBOX_H_
