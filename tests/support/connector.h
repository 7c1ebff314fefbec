// The built connector as a child process, talked to through pipes the way an agent's client does.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json.hpp>

#include "support/process.h"

namespace testing_support {

class Connector {
 public:
  // `launcher`, when given, is a command that the connector's own command line is appended to,
  // such as a shell that sets a resource limit and then runs it. `nonblocking` hands the child
  // standard input and output that are non-blocking, as some clients do.
  explicit Connector(std::vector<std::string> args = {}, const Environment& changes = {},
                     std::vector<std::string> launcher = {}, bool nonblocking = false);
  ~Connector();  // kills a child that is still running

  void send(std::string_view bytes);  // raw bytes to its standard input
  void line(std::string_view text);   // one line, LF added
  std::optional<std::string> next();  // its next output line, without LF; nothing at end
  // Its next output line, parsed; null when there is none. A line that is not JSON throws.
  boost::json::value response();
  void hangup();  // closes its standard input
  // Closes its input, reads the rest of its output and waits for it to end. Returns the exit
  // status (-1 when it did not exit normally).
  int finish();
  int drain();  // the same, for a child whose input is closed already
  const std::string& rest() const { return remainder; }  // output read by finish()
  std::string errors() const;                            // all it wrote to standard error
  pid_t process() const { return child->id(); }          // the child's id, while it runs
  int stdoutFd() const { return output; }                // this side of its standard output

 private:
  std::optional<Child> child;
  int input = -1, output = -1;
  std::string pending, remainder, errorFile;
};

// Runs the connector over `lines` (each sent with an LF) and returns everything it wrote to
// standard output. Expects exit status 0 and an empty standard error, as every run must have.
std::string run(const std::vector<std::string>& lines, std::vector<std::string> args = {},
                const Environment& changes = {});

// Ends `connector` as finish() does and expects what every run must end with, as run() does: exit
// status 0 and an empty standard error. Returns the output that finish() read.
std::string finished(Connector& connector);

// The address space, in kB, that a connector maps once it has started and answered a ping: all
// it maps before its first call. -1 when it did not answer or the figure cannot be read.
long idleSize();

// The lines of `text`, each without its LF.
std::vector<std::string> split(const std::string& text);

}  // namespace testing_support
