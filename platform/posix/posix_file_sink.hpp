#pragma once

#include <string>

#include "platform/http_get.hpp"
#include "platform/posix/folder_beneath.hpp"

namespace tarvel {

// Streams a body into a temporary file in the target's folder and renames it
// over the target on commit, so the target is either the whole new file or
// untouched. An abandoned (or destroyed, uncommitted) sink removes its
// temporary file. Given the application directory as root, it never reaches
// the target's folder through a symbolic link below that directory.
class PosixFileSink final : public HttpSink {
 public:
  // target: absolute path in the system's own form; root: the folder the
  // target lies beneath ("" when there is none to keep to).
  explicit PosixFileSink(std::string target, std::string root = {});
  ~PosixFileSink() override;
  PosixFileSink(const PosixFileSink&) = delete;
  PosixFileSink& operator=(const PosixFileSink&) = delete;

  [[nodiscard]] bool open() override;
  [[nodiscard]] bool write(const char* data, std::size_t size) override;
  [[nodiscard]] bool commit() override;
  void abandon() override;

  [[nodiscard]] bool is_open() const { return fd_ >= 0; }

 private:
  std::string target_;
  std::string root_;
  UniqueFd folder_;  // the target's folder, reached as open_parent_folder does
  std::string name_;
  std::string temp_;  // name within folder_
  int fd_ = -1;
};

}  // namespace tarvel
