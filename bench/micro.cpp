// Micro-benchmarks of the connector's hot paths, on the very library that ships. Each answers one
// question: what does the connector spend on one request line, one response, one "tools/list", one
// bridge reply, apart from the pipes, sockets and threads around them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <benchmark/benchmark.h>

#include "bridge/exchange.h"
#include "bridge/tools.h"
#include "front/catalogue.h"
#include "front/json.h"
#include "front/lines.h"
#include "front/output.h"
#include "front/reader.h"
#include "front/writer.h"

namespace {

namespace json = vesk::json;

const std::string callLine =
    R"({"jsonrpc":"2.0","id":4711,"method":"tools/call","params":{"name":"vesk_read_chat",)"
    R"("arguments":{"chat":"c2","last_n":6}}})";
// The same call as a client of the 2026-07-28 revision makes it, with the envelope it sends with
// every request.
const std::string modernCallLine =
    R"({"jsonrpc":"2.0","id":4711,"method":"tools/call","params":{"name":"vesk_read_chat",)"
    R"("arguments":{"chat":"c2","last_n":6},"_meta":{)"
    R"("io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
    R"("io.modelcontextprotocol/clientCapabilities":{},)"
    R"("io.modelcontextprotocol/clientInfo":{"name":"bench","version":"1"}}}})";
const std::string hostReply =
    R"({"ok":true,"text":"c2, last 6 messages:\nperson: can you review the diff?\nagent: )"
    R"(Looking at it now \u2014 two comments so far."})"
    "\n";
const vesk::Id id{"4711"};

// The members the request loop keeps of a line (its `requestMembers`): what it costs to read a
// line depends on what is kept of it, so the list must stay the loop's.
constexpr vesk::Member requestMembers[] = {
    {"id", true},
    {"method"},
    {"params"},
    {"protocolVersion"},
    {"_meta"},
    {"io.modelcontextprotocol/protocolVersion"},
    {"io.modelcontextprotocol/clientCapabilities"},
    {"io.modelcontextprotocol/clientInfo"},
    {"name"},
    {"version"},
    {"requestId", true},
    {"arguments"},
    {"chat"},
    {"message"},
    {"last_n"},
};

// A file of `count` copies of `line`, unlinked already: the descriptor is all that is left of it.
int file(const std::string& line, int count) {
  char name[] = "/tmp/vesk-micro-XXXXXX";
  int fd = ::mkstemp(name);
  ::unlink(name);
  std::string all;
  for (int i = 0; i < count; ++i) all += line + "\n";
  if (fd < 0 || ::write(fd, all.data(), all.size()) != static_cast<ssize_t>(all.size()))
    std::abort();
  return fd;
}

// Standard output sent to /dev/null while a benchmark writes responses; the report, written after,
// still goes where it should.
class Discarded {
 public:
  Discarded() : saved(::dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    int null = ::open("/dev/null", O_WRONLY);
    if (saved < 0 || null < 0 || ::dup2(null, STDOUT_FILENO) < 0) std::abort();
    ::close(null);
  }
  ~Discarded() {
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
  }
  Discarded(const Discarded&) = delete;
  Discarded& operator=(const Discarded&) = delete;

 private:
  int saved;
};

// Reading one request line from a descriptor and parsing it, keeping what the loop keeps, then
// dropping it: the main thread's work before any method is looked at.
void ReadAndParseLine(benchmark::State& state, const std::string& request) {
  int fd = file(request, 10000);
  auto lines = std::make_unique<vesk::Lines>(fd);
  std::string_view line;
  for (auto _ : state) {
    if (!lines->next(line)) {
      state.PauseTiming();
      ::lseek(fd, 0, SEEK_SET);
      lines = std::make_unique<vesk::Lines>(fd);
      lines->next(line);
      state.ResumeTiming();
    }
    std::optional<vesk::Document> message = vesk::parseLine(line, requestMembers);
    if (!message) std::abort();  // a refused line would measure nothing
    benchmark::DoNotOptimize(message);
  }
  ::close(fd);
}
BENCHMARK_CAPTURE(ReadAndParseLine, legacy, callLine);
BENCHMARK_CAPTURE(ReadAndParseLine, modern, modernCallLine);

// The whole response to a tool call, from its result object, written (to /dev/null).
void SerialiseResponse(benchmark::State& state) {
  vesk::Document said = vesk::replyFrom(hostReply);
  json::object result = vesk::result(std::move(said.root()));
  Discarded quiet;
  for (auto _ : state) vesk::reply(id, result, vesk::Era::legacy);
}
BENCHMARK(SerialiseResponse);

// The "tools/list" response, as list() makes it: the catalogue's text spliced in, written (to
// /dev/null).
void ToolsListAnswer(benchmark::State& state) {
  Discarded quiet;
  for (auto _ : state) vesk::list(id, vesk::Era::legacy);
}
BENCHMARK(ToolsListAnswer);

// The same line built the plain way, the catalogue copied into a fresh envelope and written out
// as text, then written: what the splice saves.
void ToolsListRebuilt(benchmark::State& state) {
  Discarded quiet;
  for (auto _ : state) {
    json::object envelope = {
        {"jsonrpc", "2.0"}, {"id", 4711}, {"result", {{"tools", vesk::catalogue}}}};
    std::string line = vesk::compact(envelope) + "\n";
    if (::write(STDOUT_FILENO, line.data(), line.size()) < 0) std::abort();
  }
}
BENCHMARK(ToolsListRebuilt);

// The bridge's side of a tool call: the request frame, then the host's reply bytes parsed and
// shaped into the tool result's response line.
void BridgeRequestFrame(benchmark::State& state) {
  json::object arguments = {{"chat", "c2"}, {"last_n", 6}};
  for (auto _ : state) {
    std::string frame = vesk::compact(*vesk::request("vesk_read_chat", arguments, "me")) + "\n";
    benchmark::DoNotOptimize(frame);
  }
}
BENCHMARK(BridgeRequestFrame);

void ShapeBridgeReply(benchmark::State& state) {
  Discarded quiet;
  for (auto _ : state) {
    vesk::Document said = vesk::replyFrom(hostReply);  // the result's storage: it goes last
    vesk::reply(id, vesk::result(std::move(said.root())), vesk::Era::legacy);
  }
}
BENCHMARK(ShapeBridgeReply);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
