// floor-responder: the least a program can do to answer JSON-RPC requests over pipes. It copies
// each request's id into a fixed success answer and writes that answer at once, in a write of its
// own, as the connector must; no JSON is parsed or built.
//
//   floor-responder [RESULT]    RESULT: the result's JSON text for every answer, `{}` if not given
#include "floor.h"

int main(int argc, char** argv) {
  std::string_view result = argc > 1 ? argv[1] : "{}";
  std::string answer;
  floorline::lines([&](std::string_view line) {
    answer = "{\"jsonrpc\":\"2.0\",\"id\":";
    answer += floorline::member(line, "id", false);
    answer += ",\"result\":";
    answer += result;
    answer += "}\n";
    floorline::whole(STDOUT_FILENO, answer);
  });
  return 0;
}
