#include "support/connector.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "support/calls.h"
#include "support/procfs.h"

namespace testing_support {

Connector::Connector(std::vector<std::string> args, const Environment& changes,
                     std::vector<std::string> launcher, bool nonblocking) {
  char name[] = "/tmp/vesk-stderr-XXXXXX";
  int errors = ::mkostemp(name, O_CLOEXEC);
  errorFile = name;
  int in[2], out[2];
  if (errors < 0 || ::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  if (nonblocking) {
    for (int fd : {in[0], out[1]}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  // The launcher's words, then the connector and its arguments: appended, since an insert at the
  // front makes GCC warn, wrongly, of a copy out of bounds once this file includes Boost.JSON.
  std::vector<std::string> argv = std::move(launcher);
  argv.emplace_back(CONNECTOR);
  argv.insert(argv.end(), args.begin(), args.end());
  child.emplace(std::move(argv), changes, std::array<int, 3>{in[0], out[1], errors});
  for (int fd : {in[0], out[1], errors}) ::close(fd);
  input = in[1];
  output = out[0];
  // The tests write to a child that may have closed its input; that must fail, not kill us.
  ::signal(SIGPIPE, SIG_IGN);
}

Connector::~Connector() {
  child.reset();  // killed first, so that nothing it still writes meets a closed pipe
  if (input >= 0) ::close(input);
  if (output >= 0) ::close(output);
  ::unlink(errorFile.c_str());
}

void Connector::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(input, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Connector::line(std::string_view text) {
  send(std::string(text) + "\n");
}

std::optional<std::string> Connector::next() {
  std::size_t end;
  while ((end = pending.find('\n')) == std::string::npos) {
    if (!readMore(output, pending)) return std::nullopt;
  }
  std::string text = pending.substr(0, end);
  pending.erase(0, end + 1);
  return text;
}

boost::json::value Connector::response() {
  return parsedLine(next().value_or("null"));
}

void Connector::hangup() {
  if (input >= 0) ::close(input);
  input = -1;
}

int Connector::finish() {
  hangup();
  return drain();
}

int Connector::drain() {
  remainder = pending;
  pending.clear();
  char buffer[65536];
  for (;;) {
    // A connector that never ends is a failure to report, not a suite that hangs.
    pollfd ready{output, POLLIN, 0};
    if (::poll(&ready, 1, 30000) <= 0) {
      child->signal(SIGKILL);
      break;
    }
    ssize_t n = ::read(output, buffer, sizeof buffer);
    if (n <= 0) break;
    remainder.append(buffer, static_cast<std::size_t>(n));
  }
  return child->wait();
}

std::string Connector::errors() const {
  std::ifstream file(errorFile, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string run(const std::vector<std::string>& lines, std::vector<std::string> args,
                const Environment& changes) {
  Connector connector(std::move(args), changes);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  // Written from a thread of its own, so that a large input cannot block on unread output.
  std::thread writer([&] {
    connector.send(text);
    connector.hangup();
  });
  int status = connector.drain();
  writer.join();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(connector.errors(), "");
  return connector.rest();
}

std::string finished(Connector& connector) {
  EXPECT_EQ(connector.finish(), 0);
  EXPECT_EQ(connector.errors(), "");
  return connector.rest();
}

long idleSize() {
  Connector probe;
  probe.line(pingLine(0));
  if (probe.response() != pong(0)) return -1;
  long size = statusKb(probe.process(), "VmSize");
  EXPECT_EQ(finished(probe), "");
  return size;
}

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace testing_support
