#include "ql_client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <boost/shared_ptr.hpp>
#include <cerrno>
#include <cstring>

#include "base/ql_unique_fd.h"
#include "base/ql_write_all.h"
#include "ipc/ql_process_helper_socket.h"
#include "json/ql_json_type_bool.h"
#include "json/ql_json_type_int.h"
#include "json/ql_json_type_string.h"
#include "json/ql_request_data.h"
#include "json/ql_request_data_serializer.h"

namespace {

// A reply bigger than this is not a thumbnail.
const unsigned int kMaxReplyBytes = 256u * 1024u * 1024u;

boost::shared_ptr<QLJsonTypeBase> Text(std::string const& value) {
  return boost::shared_ptr<QLJsonTypeBase>(new QLJsonTypeString(value));
}
boost::shared_ptr<QLJsonTypeBase> Number(long long value) {
  return boost::shared_ptr<QLJsonTypeBase>(new QLJsonTypeInt(value));
}
boost::shared_ptr<QLJsonTypeBase> Flag(bool value) {
  return boost::shared_ptr<QLJsonTypeBase>(new QLJsonTypeBool(value));
}

}  // namespace

std::string BuildRequestJson(QLClientOptions const& options) {
  QLRequestData request;
  request.AddField("_path", Text(options.path));
  request.AddField("_width", Number(options.width));
  request.AddField("_height", Number(options.height));
  request.AddField("_full_screen", Flag(options.full_screen));
  // The daemon reads the identifier as a signed 64-bit number and uses all
  // of its bits, so identifiers above 2^63 travel as their negative twin.
  request.AddField("_resource_id", Number(static_cast<long long>(options.resource_id)));
  request.AddField("_thumbnail_folder", Text(options.thumbnail_folder));
  request.AddField("_default_thumbnail_folder", Text(options.default_folder));
  return QLRequestDataSerializer::ToJsonString(&request);
}

bool LooksLikePng(unsigned char const* bytes, std::size_t size) {
  static unsigned char const kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return size >= sizeof(kSignature) && std::memcmp(bytes, kSignature, sizeof(kSignature)) == 0;
}

int RunClient(QLClientOptions const& options, std::ostream& messages) {
  std::string const body = BuildRequestJson(options);
  if (body.empty() || body == "{ }") {
    messages << "error: could not build the JSON request\n";
    return kClientUsage;
  }

  QLProcessHelperSocket socket(options.socket);
  if (!socket.ConnectToServer()) {
    int const error = errno;
    messages << "error: the quorlin_gd daemon is not reachable at " << options.socket << " ("
             << std::strerror(error) << "); is it running?\n";
    return kClientNoDaemon;
  }
  struct timeval timeout = {static_cast<time_t>(options.timeout_seconds), 0};
  setsockopt(socket.m_sock_value(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(socket.m_sock_value(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));

  if (!socket.Send(reinterpret_cast<unsigned char const*>(body.data()),
                   static_cast<unsigned int>(body.size()))) {
    messages << "error: sending the request to " << options.socket << " failed\n";
    return kClientNoReply;
  }
  QLProcessHelperSocket::SetMaxMessageLength(kMaxReplyBytes);
  boost::shared_ptr<unsigned char> reply;
  int const length = socket.Receive(reply);
  if (length <= 0 || !reply) {
    messages << "error: no reply from the daemon (connection closed, timed out after "
             << options.timeout_seconds << " s, or reply too large)\n";
    return kClientNoReply;
  }
  if (length == 1 && reply.get()[0] == 0) {
    messages << "error: the daemon could not make a thumbnail for " << options.path
             << " (not even a default picture; check --default-folder " << options.default_folder
             << ")\n";
    return kClientNoThumbnail;
  }
  if (!LooksLikePng(reply.get(), static_cast<std::size_t>(length))) {
    messages << "error: the reply (" << length << " bytes) is not a PNG image\n";
    return kClientNotPng;
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
