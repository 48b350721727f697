#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarvel::testing {

// This process's environment with the given entries put in, in place of
// those of the same names. Make it before a fork: a child of a threaded
// process may only make system calls.
std::vector<std::string> merged_environment(const std::vector<std::string>& extra);

// A program run on a pseudo-terminal, as a person at a console runs it: the
// test reads what it prints and types lines for it. The program is killed
// if it still runs when the session goes.
class PtySession {
 public:
  // argv[0] is the program's path; environment: extra "NAME=value" entries.
  PtySession(const std::vector<std::string>& argv, const std::string& directory,
             const std::vector<std::string>& environment = {});
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  [[nodiscard]] bool started() const { return pid_ > 0; }
  // Reads until the output after the previous match holds text; false when
  // the deadline passes or the program ends first.
  [[nodiscard]] bool expect(const std::string& text,
                            std::chrono::milliseconds deadline = std::chrono::seconds(30));
  // Types a line and Enter.
  void type(const std::string& line);
  // The program's exit code once it has ended, or nothing at the deadline.
  [[nodiscard]] std::optional<int> wait_exit(
      std::chrono::milliseconds deadline = std::chrono::seconds(30));
  // Everything printed so far, for a failure message.
  [[nodiscard]] const std::string& output() const { return output_; }

 private:
  bool read_some(std::chrono::steady_clock::time_point until);

  int master_ = -1;
  pid_t pid_ = -1;
  std::optional<int> exit_code_;
  std::string output_;
  std::size_t matched_ = 0;
};

}  // namespace tarvel::testing
