#include "ql_load_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_thumbnail_server.h"
#include "support/ql_temp_dir.h"

namespace {

typedef std::vector<std::unique_ptr<QLLoadConnection>> Clients;

class LoadRunTest : public ::testing::Test {
 protected:
  std::string SocketPath() const { return folder_.File("fake.sock"); }
  Clients MakeClients(int count) const {
    Clients clients;
    for (int i = 0; i < count; ++i) clients.emplace_back(new QLLoadConnection(SocketPath(), 10));
    return clients;
  }
  static QLLoadPhaseSettings Requests(std::size_t count) {
    QLLoadPhaseSettings settings;
    settings.requests = count;
    return settings;
  }
  QLTempDir folder_;
};

TEST_F(LoadRunTest, EveryRequestIsAnsweredAndBodiesTakeTurns) {
  FakeThumbnailServer server(SocketPath());
  ASSERT_TRUE(server.listening());
  Clients clients = MakeClients(4);
  QLLoadPhaseResult const result = RunLoadPhase(clients, {"a", "b", "c"}, Requests(40));

  ASSERT_EQ(40u, result.samples.size());
  EXPECT_EQ(40u, result.Count(kReplyPng));
  EXPECT_EQ(40u, result.Latencies(kReplyPng).size());
  std::map<std::size_t, int> per_body;
  for (QLRequestSample const& sample : result.samples) {
    ++per_body[sample.body_index];
    EXPECT_GT(sample.latency_ms, 0);
    EXPECT_EQ(-1, sample.daemon_cpu_ms);  // not asked for
  }
  EXPECT_EQ((std::map<std::size_t, int>{{0, 14}, {1, 13}, {2, 13}}), per_body);
  EXPECT_GT(result.wall_seconds, 0);
  EXPECT_EQ(-1, result.daemon_cpu_seconds);
  EXPECT_EQ(40, server.requests());
  // One kept connection per client (a client the others outran never connects).
  EXPECT_GE(server.connections(), 1);
  EXPECT_LE(server.connections(), 4);
}

TEST_F(LoadRunTest, ConnectionsOutliveAPhase) {
  FakeThumbnailServer server(SocketPath());
  Clients clients = MakeClients(2);
  for (int phase = 0; phase < 5; ++phase) {
    EXPECT_EQ(6u, RunLoadPhase(clients, {"x"}, Requests(6)).Count(kReplyPng));
  }
  EXPECT_EQ(30, server.requests());
  EXPECT_LE(server.connections(), 2);
}

TEST_F(LoadRunTest, ANewConnectionPerRequestWhenAsked) {
  FakeThumbnailServer server(SocketPath());
  Clients clients = MakeClients(1);
  QLLoadPhaseSettings settings = Requests(5);
  settings.new_connection_per_request = true;
  QLLoadPhaseResult const result = RunLoadPhase(clients, {"x"}, settings);
  EXPECT_EQ(5u, result.Count(kReplyPng));
  EXPECT_EQ(5, server.connections());
  EXPECT_FALSE(clients[0]->connected());
}

TEST_F(LoadRunTest, RepliesThatAreNoThumbnailAreCountedApart) {
  FakeThumbnailServer server(SocketPath());
  Clients clients = MakeClients(1);
  QLLoadPhaseResult const result =
      RunLoadPhase(clients, {"ok", "no-thumbnail", "not-png"}, Requests(6));
  EXPECT_EQ(2u, result.Count(kReplyPng));
  EXPECT_EQ(2u, result.Count(kReplyNoThumbnail));
  EXPECT_EQ(2u, result.Count(kReplyNotPng));
  EXPECT_EQ(0u, result.Count(kReplyNone));
  EXPECT_EQ(2u, result.Latencies(kReplyNoThumbnail).size());
}

TEST_F(LoadRunTest, ALostConnectionIsAFailureAndTheNextRequestReconnects) {
  FakeThumbnailServer server(SocketPath());
  QLLoadConnection connection(SocketPath(), 10);
  std::size_t bytes = 99;
  EXPECT_EQ(kReplyNone, connection.Exchange("hang-up", &bytes));
  EXPECT_EQ(0u, bytes);
  EXPECT_FALSE(connection.connected());
  EXPECT_EQ(kReplyPng, connection.Exchange("fine", &bytes));
  EXPECT_EQ(27u, bytes);
  EXPECT_EQ(2, server.connections());
}

TEST_F(LoadRunTest, NoDaemonMeansFailuresUntilOneListens) {
  Clients clients = MakeClients(2);
  QLLoadPhaseResult const without = RunLoadPhase(clients, {"x"}, Requests(4));
  EXPECT_EQ(4u, without.Count(kReplyNone));
  EXPECT_TRUE(without.Latencies(kReplyPng).empty());

  FakeThumbnailServer server(SocketPath());
  QLLoadPhaseResult const with = RunLoadPhase(clients, {"x"}, Requests(4));
  EXPECT_EQ(4u, with.Count(kReplyPng));
}

TEST_F(LoadRunTest, TheServersCpuTimeIsChargedToEachRequest) {
  // The fake server runs in this process, so this process is the "daemon".
  FakeThumbnailServer server(SocketPath(), 20);
  Clients clients = MakeClients(1);
  QLLoadPhaseSettings settings = Requests(3);
  settings.daemon_pid = getpid();
  settings.per_request_cpu = true;
  QLLoadPhaseResult const result = RunLoadPhase(clients, {"x"}, settings);
  ASSERT_EQ(3u, result.Count(kReplyPng));
  for (QLRequestSample const& sample : result.samples) EXPECT_GE(sample.daemon_cpu_ms, 19.0);
  EXPECT_GE(result.daemon_cpu_seconds, 0.039);  // tick counts: 60 ms, less up to two ticks
  EXPECT_GT(result.daemon_peak_rss_kb, 0);
}

TEST_F(LoadRunTest, PerRequestCpuNeedsOneClient) {
  FakeThumbnailServer server(SocketPath());
  Clients clients = MakeClients(2);
  QLLoadPhaseSettings settings = Requests(4);
  settings.daemon_pid = getpid();
  settings.per_request_cpu = true;
  QLLoadPhaseResult const result = RunLoadPhase(clients, {"x"}, settings);
  for (QLRequestSample const& sample : result.samples) EXPECT_EQ(-1, sample.daemon_cpu_ms);
  EXPECT_GE(result.daemon_cpu_seconds, 0);  // the phase total is still measured
}

TEST_F(LoadRunTest, NothingToSendGivesAnEmptyResult) {
  Clients none;
  EXPECT_TRUE(RunLoadPhase(none, {"x"}, Requests(3)).samples.empty());
  Clients clients = MakeClients(1);
  EXPECT_TRUE(RunLoadPhase(clients, {}, Requests(3)).samples.empty());
}

}  // namespace
