// What the built connector holds while it works: descriptors, threads and memory come back once the
// calls are answered, and every call in flight is answered exactly once.
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/build.h"
#include "support/calls.h"
#include "support/connector.h"
#include "support/host.h"
#include "support/procfs.h"
#include "support/switchboard.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

// Checks that `line` is the echo host's answer to call `id`, and returns that id.
int answered(const std::string& line) {
  json::value reply = parsedLine(line);
  int id = json::value_to<int>(reply.at("id"));
  EXPECT_EQ(reply, echoed(id)) << line;
  return id;
}

// Sends `count` calls from `first` on and reads their answers, all answered once and as expected.
void serve(Connector& connector, int first, int count) {
  connector.send(echoCalls(first, count));
  std::map<int, int> seen;
  for (int i = 0; i < count; ++i) {
    std::optional<std::string> line = connector.next();
    ASSERT_TRUE(line.has_value()) << "answers stopped after " << i;
    ++seen[answered(*line)];
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
}

// The child's thread count once it is no higher than `bound`, or as it stands after a generous
// while. Worker threads stay for a few seconds after their last call and then end, and nothing
// outside the process can be told when, so the count is read again until it settles.
std::size_t threads(pid_t pid, std::size_t bound) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::size_t n = tasks(pid).size();
  while (n > bound && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // no gate to wait on: poll gently
    n = tasks(pid).size();
  }
  return n;
}

}  // namespace

TEST(Resources, AThousandCallsLeaveNoDescriptorOrThreadBehind) {
  Switchboard host(chatEcho);
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  connector.line(pingLine("p"));
  ASSERT_TRUE(connector.next().has_value());
  pid_t pid = connector.process();
  const std::size_t idle = 1 + runtimeThreads;  // the main thread, and the sanitizer's if any
  std::size_t held = descriptors(pid);
  EXPECT_LE(threads(pid, idle), idle);
  for (int round = 0; round < 10; ++round) serve(connector, round * 100, 100);
  // Each exchange closes its socket before the answer is written, so this holds at once.
  EXPECT_EQ(descriptors(pid), held);
  // The workers stay until they have been idle for a while; then the connector is back to one.
  EXPECT_LE(threads(pid, idle), idle);
  EXPECT_EQ(finished(connector), "");
}

TEST(Resources, EveryOneOfAThousandCallsInFlightIsAnsweredOnce) {
  const int count = 1000;
  for (bool inputEndsFirst : {false, true}) {
    SCOPED_TRACE(inputEndsFirst ? "input ends while all are in flight" : "input stays open");
    Switchboard host(chatEcho, true);
    Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
    connector.send(echoCalls(0, count));
    host.await(count);  // every call holds its own connection at the same time
    if (inputEndsFirst) connector.hangup();
    host.release();
    std::vector<std::string> lines;
    if (!inputEndsFirst) {
      for (int i = 0; i < count; ++i) lines.push_back(connector.next().value_or("lost"));
    }
    for (const std::string& line : split(finished(connector))) lines.push_back(line);
    std::map<int, int> seen;
    for (const std::string& line : lines) ++seen[answered(line)];
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
    for (const auto& [id, times] : seen) EXPECT_EQ(times, 1) << "call " << id;
    EXPECT_EQ(host.answered(), static_cast<std::size_t>(count));
  }
}

TEST(Resources, MemoryStaysFlatOverTenThousandCalls) {
  // Sanitized builds check for leaks instead: their runtimes hold freed memory on purpose.
  if (sanitized) GTEST_SKIP() << "sanitizer runtimes hold freed memory on purpose";
  Switchboard host(chatEcho);
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  const int round = 250;
  int sent = 0;
  for (; sent < 1000; sent += round) serve(connector, sent, round);  // allocator arenas warm up
  long warm = statusKb(connector.process(), "VmRSS");
  for (; sent < 10000; sent += round) serve(connector, sent, round);
  long end = statusKb(connector.process(), "VmRSS");
  // Generous, since worker threads come and go and the allocator may keep a few more arenas than it
  // had; a read buffer (64 kB) or a thread's stack left behind per call would still add tens or
  // hundreds of MB over the last 9,000 calls.
  EXPECT_LT(end, warm + 4096) << "warm " << warm << " kB, end " << end << " kB";
  finished(connector);
}
