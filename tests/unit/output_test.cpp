#include "front/output.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace json = boost::json;

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

// The envelope is spliced by hand around the id as it was written: the line must be that id, the
// result and nothing else, one valid JSON object, whether the result comes as an object or written.
TEST(Reply, WritesTheIdAsItWasWrittenAroundTheResult) {
  // Escapes at every offset within a word of the writer's, which passes plain text eight bytes at
  // a time; compared with the library's own writer.
  std::string shown = "a \"q\"\n\u00e9\u2019\x01\x1f\x7f/";
  for (int i = 0; i < 20; ++i) shown += std::string(static_cast<std::size_t>(i), 'x') + "\t\\";
  json::object result = {{"content", json::array{{{"type", "text"}, {"text", shown}}}},
                         {"isError", false}};
  std::string text = json::serialize(result);
  for (std::string id : {"null", "0", "-7", "-0", "1e2", "1.50", "18446744073709551615",
                         "123456789012345678901234567890", R"("x\u2019\n\"")", R"([1,"a"])",
                         R"({"b":1,"a":null})", "{}"}) {
    SCOPED_TRACE(id);
    std::string whole = R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":)" + text + "}\n";
    EXPECT_EQ(written([&] { vesk::reply({id}, result, vesk::Era::legacy); }), whole);
    EXPECT_EQ(written([&] { vesk::reply({id}, vesk::Serialised{text}, vesk::Era::legacy); }),
              whole);
    EXPECT_EQ(json::parse(whole).at("result"), result);
  }
}

// A modern result is the same result with two members more, whether it has members of its own.
TEST(Reply, AModernResultSaysItIsCompleteAndNamesTheServer) {
  json::object meta = {
      {"io.modelcontextprotocol/serverInfo", {{"name", "vesk"}, {"version", "1.0"}}}};
  for (json::object result :
       {json::object(), json::object{{"tools", json::array()}, {"ttlMs", 5}}}) {
    SCOPED_TRACE(json::serialize(result));
    std::string line = written([&] { vesk::reply({"7"}, result, vesk::Era::modern); });
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    result["_meta"] = meta;
    result["resultType"] = "complete";
    EXPECT_EQ(json::parse(line), (json::object{{"jsonrpc", "2.0"}, {"id", 7}, {"result", result}}));
  }
}

TEST(Failure, CarriesItsCodeAndMessageAndDataOnlyWhenGiven) {
  std::string line = written([] { vesk::failure({"\"a\""}, -32601, "Method not found: x\ny"); });
  EXPECT_EQ(
      line,
      R"({"error":{"code":-32601,"message":"Method not found: x\ny"},"id":"a","jsonrpc":"2.0"})"
      "\n");
  json::object data = {{"supported", json::array{"2026-07-28"}}};
  line = written([&] { vesk::failure({"1e2"}, -32022, "", data); });
  EXPECT_EQ(json::parse(line).at("error"),
            (json::object{{"code", -32022}, {"message", ""}, {"data", data}}));
}
