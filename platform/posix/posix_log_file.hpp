#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log_file.hpp"

namespace tarvel {

// The support log on disk: lines appended to one file that, once it would
// pass its size, becomes "<name>.1" (the one before that "<name>.2", and so
// on) while a new one starts. Several programs may write one log at once:
// each line is one write, and a lock on the file keeps two of them from
// turning it over together. Each line starts with the local time to the
// millisecond and the program with its process id.
class PosixLogFile final : public LogFile {
 public:
  struct Limits {
    std::uint64_t bytes = std::uint64_t{1} << 20;  // one file's size
    int files = 3;                                 // the file and its older ones
  };

  // Opens the log at path, making its folders (only the owner may read
  // them: a log says where a player's client lives and what it fetched).
  // When it cannot, error() says why and append() does nothing.
  PosixLogFile(std::string path, std::string program, Limits limits);
  explicit PosixLogFile(std::string path, std::string program = "tarvel")
      : PosixLogFile(std::move(path), std::move(program), Limits{}) {}
  ~PosixLogFile() override;
  PosixLogFile(const PosixLogFile&) = delete;
  PosixLogFile& operator=(const PosixLogFile&) = delete;

  void append(std::string_view line) override;

  [[nodiscard]] bool is_open() const { return fd_ >= 0; }
  [[nodiscard]] const std::string& error() const { return error_; }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  bool open_file();
  // Under the file's lock: follows a turn-over another program made, and
  // makes one when the line would not fit.
  void keep_to_size(std::size_t adding);

  std::string path_;
  std::string program_;
  Limits limits_;
  std::mutex mutex_;
  int fd_ = -1;
  std::string error_;
};

// Where the support log of the application directory goes: the user's state
// folder ($XDG_STATE_HOME/tarvel, else ~/.local/state/tarvel) and a name made
// of the directory's own name and a hash of its whole path, so each client
// folder has a log of its own. "" when neither variable is set.
[[nodiscard]] std::string support_log_path(const std::string& application_directory);

// The log's file and its older ones that exist, newest first.
[[nodiscard]] std::vector<std::string> support_log_files(const std::string& path);

}  // namespace tarvel
