// One thumbnail request from the command line: builds the JSON request,
// sends it over the daemon's socket, checks the reply and writes the PNG.
//
// Single-threaded; every resource (socket, output file) is owned by the call.
#ifndef QUORLIN_TOOLS_CLIENT_QL_CLIENT_H_
#define QUORLIN_TOOLS_CLIENT_QL_CLIENT_H_

#include <ostream>
#include <string>

#include "ql_client_options.h"
#include "ql_daemon_connection.h"

enum QLClientExit {
  kClientOk = 0,
  kClientUsage = 2,
  kClientNoDaemon = 3,
  kClientNoReply = 4,
  kClientNoThumbnail = 5,
  kClientNotPicture = 6,
  kClientOutputFailed = 7,
};

// The request `options` describe.
QLThumbnailRequest RequestFor(QLClientOptions const& options);

// Runs one request; messages for the user go to `messages`. Returns a
// QLClientExit value.
int RunClient(QLClientOptions const& options, std::ostream& messages);

#endif  // QUORLIN_TOOLS_CLIENT_QL_CLIENT_H_
