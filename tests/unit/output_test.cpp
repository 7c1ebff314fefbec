#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "front/output.h"

using nlohmann::json;

// The envelope is spliced by hand; it must be exactly the line the JSON writer gives for the same
// object, whatever the id holds.
TEST(Envelope, IsExactlyTheWritersLineForAnyId) {
  json result = {{"content", json::array({{{"type", "text"}, {"text", "a \"q\"\n\u00e9\u2019"}}})}, {"isError", false}};
  json ids[] = {nullptr, 0, -7, 18446744073709551615u, 1.5, "x\u2019\n\"", json::array({1, "a"}),
                json{{"b", 1}, {"a", nullptr}}, json::object()};
  for (const json& id : ids) {
    SCOPED_TRACE(id.dump());
    json whole = {{"jsonrpc", "2.0"}, {"id", id}, {"result", result}};
    EXPECT_EQ(vesk::envelope(id, result.dump()), whole.dump() + "\n");
  }
}

TEST(Envelope, IsEmptyForAnIdTheWriterRefuses) {
  EXPECT_EQ(vesk::envelope(json("\xFF"), "{}"), "");
}
