#include "thumbnail/ql_gd_helper.h"

#include <limits.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "base/ql_array_deleter.h"
#include "base/ql_fs_identity.h"
#include "ipc/ql_process_helper_socket.h"
#include "json/json_parser.h"
#include "log/ql_log.h"
#include "log/ql_logger.h"
#include "protocol/ql_socket_path.h"
#include "protocol/ql_thumbnail_request.h"
#include "thumbnail/ql_thumbnail_options.h"

namespace {

// Copies the request's values into `data`; false, naming the absent key in
// an ERROR line, when one is missing: such a request is answered as a
// failure.
bool FillRequest(JSON::JSONParser const& parser, QLThumbnailData& data) {
  QLThumbnailRequest request;
  char const* missing = "";
  if (!ReadRequest(parser, &request, &missing)) {
    QL_ERROR("ProcessCommand: the request lacks the key \"" << missing << "\".");
    return false;
  }
  data.path = request.path;
  data.width = request.width;
  data.height = request.height;
  data.full_screen = request.full_screen;
  data.resource_id = request.resource_id;
  data.thumbnail_folder = request.thumbnail_folder;
  data.default_thumbnail_folder = request.default_folder;
  data.background = request.background;
  return true;
}

// The text with every control byte written as \xHH, for a log line: a path
// from a request must not be able to cut or forge one.
std::string Escaped(std::string const& text) {
  static char const kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Control bytes never belong in a path a service sends, and a NUL would cut
// the name where the C library reads it, so the file opened would not be
// the one the request names (nor the one checked).
bool HasControlByte(std::string const& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

void SendFailure(boost::shared_ptr<QLProcessHelperSocket> const& socket) {
  boost::shared_ptr<unsigned char> failure(new unsigned char[1], arrayDeleter<unsigned char>());
  failure.get()[0] = 0;
  if (socket && socket->IsValid()) socket->Send(failure.get(), 1);
}

}  // namespace

QLGDHelper::QLGDHelper() {}

bool QLGDHelper::RequestConfined(QLThumbnailData const& data) const {
  struct {
    char const* key;
    std::string const& value;
  } const paths[] = {{kRequestPathKey, data.path},
                     {kRequestThumbnailFolderKey, data.thumbnail_folder},
                     {kRequestDefaultFolderKey, data.default_thumbnail_folder}};
  for (auto const& entry : paths) {
    // The kernel refuses a path of PATH_MAX bytes or more, so a request
    // naming one is refused before its path is copied further (a frame can
    // carry one of 70 KiB).
    if (entry.value.size() >= PATH_MAX) {
      QL_ERROR("ProcessCommand: \"" << entry.key << "\" is " << entry.value.size()
                                    << " bytes long, longer than any path; refused.");
      return false;
    }
    if (HasControlByte(entry.value)) {
      QL_ERROR("ProcessCommand: \"" << entry.key << "\" \"" << Escaped(entry.value)
                                    << "\" holds a control character; refused.");
      return false;
    }
  }
  if (!confinement_.restricts()) return true;
  for (auto const& entry : paths) {
    if (!confinement_.Contains(entry.value)) {
      QL_ERROR("ProcessCommand: \"" << entry.key << "\" \"" << entry.value
                                    << "\" is outside the allowed folders; refused.");
      return false;
    }
  }
  return true;
}

std::string QLGDHelper::StatusText() const { return counters_.StatusLine(); }

QLGDHelper::~QLGDHelper() {}

bool QLGDHelper::InitHelper() {
  unsigned int const idle_ms = provider_.options().memory_idle_ms;
  if (idle_ms > 0 && !trimmer_) {
    if (!KeepDecodeMemory(provider_.options().jobs)) {
      QL_WARN("The allocator refused a setting; decode memory may not stay.");
    }
    trimmer_.reset(new QLIdleMemoryTrimmer(std::chrono::milliseconds(idle_ms)));
  }
  return true;
}

bool QLGDHelper::ProcessCommand(boost::shared_ptr<unsigned char> const& message,
                                unsigned int length,
                                boost::shared_ptr<QLProcessHelperSocket> socket) {
  QLServingRequest const serving(trimmer_.get());
  ++counters_.requests;
  JSON::JSONParser parser;
  // An empty message (peer shut down mid-frame) may come without a buffer.
  char const* const text = message ? reinterpret_cast<char const*>(message.get()) : "";
  parser.parse(text, message ? length : 0);
  if (parser.errorState == 3) {
    // Valid JSON, or the start of it, but no request is that large: the peer
    // gets the failure reply it waits for.
    QL_ERROR("ProcessCommand: the request has more than "
             << JSON::JSONParser::kMaxValues << " JSON keys and values or nests deeper than "
             << JSON::JSONParser::kMaxDepth << " levels or holds a key or value over "
             << JSON::JSONParser::kMaxTokenBytes << " bytes; refused.");
    ++counters_.failures;
    SendFailure(socket);
    return true;
  }
  if (parser.errorState != 0) {
    QL_ERROR("(QLHandleGetResources) invalid JSON input.");
    ++counters_.failures;
    return false;
  }
  QL_DEBUG("ProcessCommand JSON: " << parser.buildJSONRepresentation());

  // Everything the request makes the daemon look up, read, write or remove,
  // the check of its paths included, is done with the caller's rights, so a
  // caller reaches (or learns of) no file through the daemon that it could
  // not reach itself.
  QLFsCredentials caller;
  if (socket && socket->has_peer()) {
    caller.uid = socket->peer().uid;
    caller.gid = socket->peer().gid;
    caller.groups = socket->peer().groups;
  }
  QLThumbnailData data;
  QLTimer timer;
  bool made = false;
  {
    QLActAs acting(caller);
    if (!acting.ok()) {
      QL_ERROR("ProcessCommand: cannot act with the rights of uid " << caller.uid << "; refused.");
    } else if (FillRequest(parser, data) && RequestConfined(data)) {
      timer.reset();
      made = provider_.GetThumbnailFor(data);
    }
  }
  // The one place the request's file and cache failures are logged; a full
  // disk, which fails every save to the folder, at most once a minute.
  for (QLStatus const& failure : data.failures) {
    if (failure.kind() != QLStatus::Kind::kNoSpace) {
      QL_ERROR(failure.ToString());
      continue;
    }
    std::uint64_t dropped = 0;
    if (!full_folders_.Admit(data.thumbnail_folder, QLFullFolderReports::Clock::now(), &dropped)) {
      continue;
    }
    if (dropped == 1) {
      QL_ERROR(failure.ToString());
    } else {
      QL_ERROR(failure.ToString() << " Saves dropped in \"" << data.thumbnail_folder
                                  << "\" since the last such line: " << dropped << ".");
    }
  }
  if (!made) {
    ++counters_.failures;
    SendFailure(socket);
    return true;
  }
  QL_DEBUG("ProcessCommand GetThumbnailFor took: " << timer.get_duration());

  // A frame carries at most 2^32 - 1 bytes; cutting a larger thumbnail to
  // its low 32 bits would send a corrupt picture, so it counts as a failure.
  if (!data.thumbnail || data.thumbnail_size <= 0 || data.thumbnail_size > UINT32_MAX) {
    QL_ERROR("ProcessCommand: thumbnail of " << data.thumbnail_size << " bytes for \"" << data.path
                                             << "\" cannot be sent.");
    ++counters_.failures;
    SendFailure(socket);
    return true;
  }
  switch (data.origin) {
    case QLThumbnailData::Origin::kCache:
      ++counters_.cache_hits;
      break;
    case QLThumbnailData::Origin::kMade:
      ++counters_.made;
      break;
    case QLThumbnailData::Origin::kDefaultPicture:
    case QLThumbnailData::Origin::kNone:
      ++counters_.defaults;
      break;
  }
  QL_DEBUG("ProcessCommandResult JSON: success");
  timer.reset();
  if (socket && socket->IsValid()) {
    socket->Send(static_cast<unsigned char const*>(data.thumbnail.get()),
                 static_cast<unsigned int>(data.thumbnail_size));
  }
  QL_DEBUG("Processcommand send result took: " << timer.get_duration());
  // The cache's housekeeping (a hit's time, an eviction) waits until the
  // client has its reply, and acts with the caller's rights as the request did.
  if (data.upkeep) {
    QLActAs acting(caller);
    QLStatus const kept = acting.ok() ? provider_.AfterReply(data) : QLStatus();
    if (!kept.ok()) QL_ERROR(kept.ToString());
  }
  return true;
}

std::string GetLogFileName() { return "gd.log"; }

std::string GetProcessSocketName() { return DefaultSocketPath(); }

std::string GetProcessName() { return "quorlin_gd"; }

boost::shared_ptr<QLAbstractHelper> GetProcessHelper() {
  boost::shared_ptr<QLGDHelper> helper(new QLGDHelper());
  QLThumbnailOptions const& options = ProcessThumbnailOptions();
  helper->provider().SetOptions(options);
  QLPathConfinement confinement;
  for (std::string const& root : options.allowed_roots) {
    std::string error;
    if (!confinement.AddRoot(root, &error)) {
      QL_ERROR("Allowed folder \"" << root << "\" is unusable (" << error
                                   << "); nothing in it is served.");
    }
  }
  helper->SetConfinement(confinement);
  helper->provider().SetConfinement(confinement);
  return helper;
}

std::vector<QLCommandLineOption> GetHelperOptions() {
  return ThumbnailCommandLineOptions(&ProcessThumbnailOptions());
}
