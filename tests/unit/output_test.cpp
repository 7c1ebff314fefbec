#include "front/output.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// What `write` puts on standard output, caught in a pipe for the moment it runs. The lines here are
// far smaller than a pipe holds, so nothing has to read while it writes.
template <class Write>
std::string written(Write write) {
  std::fflush(stdout);
  int saved = ::dup(STDOUT_FILENO);
  int ends[2];
  if (saved < 0 || ::pipe(ends) != 0) return "<no pipe>";
  ::dup2(ends[1], STDOUT_FILENO);
  ::close(ends[1]);
  write();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::string caught;
  char buffer[4096];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) caught.append(buffer, n);
  ::close(ends[0]);
  return caught;
}

}  // namespace

// The envelope is spliced by hand; it must be exactly the line the JSON writer gives for the same
// object, whatever the id holds, whether the result comes as an object or already written.
TEST(Reply, IsExactlyTheWritersLineForAnyId) {
  json result = {{"content", json::array({{{"type", "text"}, {"text", "a \"q\"\n\u00e9\u2019"}}})},
                 {"isError", false}};
  std::string text = result.dump();
  json ids[] = {nullptr,
                0,
                -7,
                18446744073709551615u,
                1.5,
                "x\u2019\n\"",
                json::array({1, "a"}),
                json{{"b", 1}, {"a", nullptr}},
                json::object()};
  for (const json& id : ids) {
    SCOPED_TRACE(id.dump());
    std::string whole = json{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}}.dump() + "\n";
    EXPECT_EQ(written([&] { vesk::reply(id, result, vesk::Era::legacy); }), whole);
    EXPECT_EQ(written([&] { vesk::reply(id, vesk::Serialised{text}, vesk::Era::legacy); }), whole);
  }
}

// A modern result is the same result with two members more, whether it has members of its own.
TEST(Reply, AModernResultSaysItIsCompleteAndNamesTheServer) {
  json meta = {{"io.modelcontextprotocol/serverInfo", {{"name", "vesk"}, {"version", "1.0"}}}};
  for (json result : {json::object(), json{{"tools", json::array()}, {"ttlMs", 5}}}) {
    SCOPED_TRACE(result.dump());
    std::string line = written([&] { vesk::reply(7, result, vesk::Era::modern); });
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    result["_meta"] = meta;
    result["resultType"] = "complete";
    EXPECT_EQ(json::parse(line), (json{{"jsonrpc", "2.0"}, {"id", 7}, {"result", result}}));
  }
}

TEST(Reply, WritesNothingForAnIdOrResultTheWriterRefuses) {
  EXPECT_EQ(written([] { vesk::reply(json("\xFF"), vesk::Serialised{"{}"}, vesk::Era::modern); }),
            "");
  EXPECT_EQ(written([] { vesk::reply(1, json{{"text", "\xFF"}}, vesk::Era::legacy); }), "");
}
