// Which peers may talk to the server: the connecting process's credentials,
// as the kernel recorded them when it connected (SO_PEERCRED, with its
// supplementary groups from SO_PEERGROUPS), against lists of allowed user and
// group ids.
//
// Contract: a value type. Filled on one thread before the server starts and
// only read afterwards (by the accepting thread), so it takes no lock. An
// empty filter (no list given) lets every peer in, as the server always did.
#ifndef QUORLIN_IPC_QL_PEER_FILTER_H_
#define QUORLIN_IPC_QL_PEER_FILTER_H_

#include <sys/types.h>

#include <string>
#include <vector>

struct QLPeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;              // the peer's effective group
  std::vector<gid_t> groups;  // its supplementary groups, when the kernel tells them
};

// Reads the credentials of the peer of a connected local socket; false when
// the kernel does not tell them.
bool ReadPeerCredentials(int fd, QLPeerCredentials* credentials);

class QLPeerFilter {
 public:
  // Adds the users (groups) of a comma-separated list of numeric ids or
  // names. False, with the offending item in *error, when an item is neither
  // a number nor a known name; nothing of the list is added then, but the
  // filter restricts all the same, so a mistyped list refuses rather than
  // lets everyone in.
  bool AddUsers(std::string const& list, std::string* error);
  bool AddGroups(std::string const& list, std::string* error);

  // True once any list was given, valid or not.
  bool restricts() const { return restricts_; }
  // A peer is allowed when its user id is listed, or its effective group or
  // one of its supplementary groups is.
  bool Allows(QLPeerCredentials const& peer) const;

 private:
  bool restricts_ = false;
  std::vector<uid_t> uids_;
  std::vector<gid_t> gids_;
};

#endif  // QUORLIN_IPC_QL_PEER_FILTER_H_
