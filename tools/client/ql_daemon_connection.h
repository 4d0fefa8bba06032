// What every tool that talks to the daemon shares: the thumbnail request
// (protocol/ql_thumbnail_request.h) and one connection that asks and reads back a
// reply classified by what it holds.
//
// QLThumbnailRequest and the free functions are pure; any thread may call
// them. A QLDaemonConnection owns its socket and is used by one thread at a
// time; several threads each with a connection of their own is fine.
// SetReplyLimit changes a process-wide bound and is called once, before any
// connection is made.
#ifndef QUORLIN_TOOLS_CLIENT_QL_DAEMON_CONNECTION_H_
#define QUORLIN_TOOLS_CLIENT_QL_DAEMON_CONNECTION_H_

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/ql_thumbnail_request.h"

class QLProcessHelperSocket;

// True when `bytes` start with the signature of a thumbnail format: PNG,
// JPEG or WebP, whichever the daemon was told to make.
bool LooksLikeThumbnail(unsigned char const* bytes, std::size_t size);

// What came back for one request.
enum class QLDaemonReply {
  kThumbnail,    // a PNG, JPEG or WebP picture
  kNoThumbnail,  // the one zero byte: the daemon could not make any picture
  kNotPicture,   // a frame, but none of those
  kNoReply,      // sending failed, the connection ended, or the timeout passed
};

class QLDaemonConnection {
 public:
  // A reply bigger than this is not a thumbnail.
  static const unsigned int kMaxReplyBytes = 256u * 1024u * 1024u;
  // Applies kMaxReplyBytes to every connection of the process.
  static void SetReplyLimit();

  QLDaemonConnection();
  ~QLDaemonConnection();
  QLDaemonConnection(QLDaemonConnection const&) = delete;
  QLDaemonConnection& operator=(QLDaemonConnection const&) = delete;

  // Connects to `socket_path`; sends and receives then give up after
  // `timeout_seconds`. False with errno set when nobody accepts.
  bool Connect(std::string const& socket_path, unsigned int timeout_seconds);
  bool connected() const;
  // Sends `body` as one frame and waits for the reply frame. On kNoReply the
  // connection is closed (connected() turns false). `bytes`/`length` get the
  // reply frame when there is one; either may be null.
  QLDaemonReply Ask(std::string const& body, boost::shared_ptr<unsigned char>* bytes, int* length);

 private:
  std::unique_ptr<QLProcessHelperSocket> socket_;
};

#endif  // QUORLIN_TOOLS_CLIENT_QL_DAEMON_CONNECTION_H_
