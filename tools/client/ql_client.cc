#include "ql_client.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/shared_ptr.hpp>
#include <cerrno>
#include <cstring>

#include "base/ql_unique_fd.h"
#include "base/ql_write_all.h"

QLThumbnailRequest RequestFor(QLClientOptions const& options) {
  QLThumbnailRequest request;
  request.path = options.path;
  request.width = options.width;
  request.height = options.height;
  request.full_screen = options.full_screen;
  request.resource_id = options.resource_id;
  request.thumbnail_folder = options.thumbnail_folder;
  request.default_folder = options.default_folder;
  return request;
}

int RunClient(QLClientOptions const& options, std::ostream& messages) {
  std::string const body = BuildRequestJson(RequestFor(options));
  if (body.empty() || body == "{ }") {
    messages << "error: could not build the JSON request\n";
    return kClientUsage;
  }

  QLDaemonConnection::SetReplyLimit();
  QLDaemonConnection connection;
  if (!connection.Connect(options.socket, options.timeout_seconds)) {
    int const error = errno;
    messages << "error: the quorlin_gd daemon is not reachable at " << options.socket << " ("
             << std::strerror(error) << "); is it running?\n";
    return kClientNoDaemon;
  }
  boost::shared_ptr<unsigned char> reply;
  int length = 0;
  switch (connection.Ask(body, &reply, &length)) {
    case QLDaemonReply::kNoReply:
      messages << "error: no reply from the daemon (connection closed, timed out after "
               << options.timeout_seconds << " s, or reply too large)\n";
      return kClientNoReply;
    case QLDaemonReply::kNoThumbnail:
      messages << "error: the daemon could not make a thumbnail for " << options.path
               << " (not even a default picture; check --default-folder " << options.default_folder
               << ")\n";
      return kClientNoThumbnail;
    case QLDaemonReply::kNotPicture:
      messages << "error: the reply (" << length << " bytes) is not a PNG, JPEG or WebP picture\n";
      return kClientNotPicture;
    case QLDaemonReply::kThumbnail:
      break;
  }

  bool written = false;
  if (options.output == "-") {
    written = WriteAll(STDOUT_FILENO, reply.get(), static_cast<std::size_t>(length));
  } else {
    QLUniqueFd fd(open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.valid()) {
      written = WriteAll(fd.get(), reply.get(), static_cast<std::size_t>(length));
      written = fd.Close() && written;
    }
  }
  if (!written) {
    messages << "error: cannot write " << options.output << ": " << std::strerror(errno) << "\n";
    return kClientOutputFailed;
  }
  if (options.output != "-") {
    messages << "wrote " << length << " bytes to " << options.output << "\n";
  }
  return kClientOk;
}
