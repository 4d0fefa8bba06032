#include "ipc/ql_peer_filter.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>

#include "base/ql_parse_number.h"

namespace {

// Supplementary groups read per peer; a peer in more groups is judged by its
// user and effective group alone.
const size_t kMaxPeerGroups = 256;
// Room getpwnam_r / getgrnam_r may need; generous for local account files.
const size_t kNameLookupBuffer = 16384;

bool ParseId(std::string const& item, unsigned long* id) {
  // (uid_t)-1 means "no id" to the kernel's calls and is never a peer's id.
  std::uint64_t value = 0;
  if (!ParseUnsigned(item.c_str(), 0, static_cast<uid_t>(-1) - 1ull, &value)) return false;
  *id = static_cast<unsigned long>(value);
  return true;
}

bool LookUpUser(std::string const& name, unsigned long* id) {
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(kNameLookupBuffer);
  if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  *id = found->pw_uid;
  return true;
}

bool LookUpGroup(std::string const& name, unsigned long* id) {
  struct group entry;
  struct group* found = nullptr;
  std::vector<char> buffer(kNameLookupBuffer);
  if (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  *id = found->gr_gid;
  return true;
}

template <typename Id>
bool AddList(std::string const& list, bool (*look_up)(std::string const&, unsigned long*),
             std::vector<Id>* ids, std::string* error) {
  std::vector<Id> parsed;
  std::string::size_type start = 0;
  while (start <= list.size()) {
    std::string::size_type end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string const item = list.substr(start, end - start);
    unsigned long id = 0;
    if (!ParseId(item, &id) && !look_up(item, &id)) {
      *error = "\"" + item + "\" is neither an id nor a known name";
      return false;
    }
    parsed.push_back(static_cast<Id>(id));
    start = end + 1;
  }
  ids->insert(ids->end(), parsed.begin(), parsed.end());
  return true;
}

}  // namespace

bool ReadPeerCredentials(int fd, QLPeerCredentials* credentials) {
  struct ucred peer;
  socklen_t length = sizeof(peer);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof(peer)) {
    return false;
  }
  credentials->pid = peer.pid;
  credentials->uid = peer.uid;
  credentials->gid = peer.gid;
  credentials->groups.assign(kMaxPeerGroups, 0);
  socklen_t group_bytes = static_cast<socklen_t>(kMaxPeerGroups * sizeof(gid_t));
  if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, credentials->groups.data(), &group_bytes) == 0) {
    credentials->groups.resize(group_bytes / sizeof(gid_t));
  } else {
    credentials->groups.clear();
  }
  return true;
}

bool QLPeerFilter::AddUsers(std::string const& list, std::string* error) {
  restricts_ = true;
  return AddList(list, &LookUpUser, &uids_, error);
}

bool QLPeerFilter::AddGroups(std::string const& list, std::string* error) {
  restricts_ = true;
  return AddList(list, &LookUpGroup, &gids_, error);
}

bool QLPeerFilter::Allows(QLPeerCredentials const& peer) const {
  if (!restricts_) return true;
  if (std::find(uids_.begin(), uids_.end(), peer.uid) != uids_.end()) return true;
  if (std::find(gids_.begin(), gids_.end(), peer.gid) != gids_.end()) return true;
  for (gid_t const group : peer.groups) {
    if (std::find(gids_.begin(), gids_.end(), group) != gids_.end()) return true;
  }
  return false;
}
