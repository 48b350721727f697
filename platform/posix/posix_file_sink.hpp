#pragma once

#include <string>

#include "platform/http_get.hpp"

namespace tarvel {

// Streams a body into a temporary file in the target's folder and renames it
// over the target on commit, so the target is either the whole new file or
// untouched. An abandoned (or destroyed, uncommitted) sink removes its
// temporary file.
class PosixFileSink final : public HttpSink {
 public:
  // target: absolute path in the system's own form.
  explicit PosixFileSink(std::string target);
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
  std::string temp_;
  int fd_ = -1;
};

}  // namespace tarvel
