// The peer filter: which credentials pass, and how the id lists are read.
#include "ipc/ql_peer_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

QLPeerCredentials Peer(uid_t uid, gid_t gid, std::vector<gid_t> groups = {}) {
  QLPeerCredentials peer;
  peer.uid = uid;
  peer.gid = gid;
  peer.groups = groups;
  return peer;
}

TEST(QLPeerFilterTest, AllowsListedUsersAndGroupsOnly) {
  QLPeerFilter filter;
  EXPECT_FALSE(filter.restricts());
  EXPECT_TRUE(filter.Allows(Peer(1234, 1234)));

  std::string error;
  ASSERT_TRUE(filter.AddUsers("1000,root", &error)) << error;
  ASSERT_TRUE(filter.AddGroups("2000", &error)) << error;
  EXPECT_TRUE(filter.restricts());
  struct {
    QLPeerCredentials peer;
    bool allowed;
  } const cases[] = {
      {Peer(1000, 5), true},    {Peer(0, 5), true},             // "root" looked up by name
      {Peer(7, 2000), true},    {Peer(7, 5, {9, 2000}), true},  // a supplementary group
      {Peer(7, 5, {9}), false}, {Peer(1001, 1000), false},      // a listed uid is not a listed gid
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.allowed, filter.Allows(c.peer)) << "uid " << c.peer.uid << " gid " << c.peer.gid;
  }
}

TEST(QLPeerFilterTest, RejectsABadListWholeAndThenRefusesEveryone) {
  struct {
    char const* list;
    char const* bad_item;
  } const cases[] = {
      {"0,no-such-user-here", "no-such-user-here"},
      {"0,,1", "\"\""},
      {"4294967295", "4294967295"},
  };
  for (auto const& c : cases) {
    QLPeerFilter filter;
    std::string error;
    EXPECT_FALSE(filter.AddUsers(c.list, &error)) << c.list;
    EXPECT_NE(std::string::npos, error.find(c.bad_item)) << error;
    EXPECT_FALSE(filter.Allows(Peer(0, 0))) << "nothing of " << c.list << " was added";
  }
}

}  // namespace
