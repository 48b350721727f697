#pragma once

#include "platform/files.hpp"

namespace tarvel {

// Files on a POSIX file system, rooted at one folder. "\" in a path becomes "/".
class PosixFiles : public Files {
 public:
  // root: the folder relative paths resolve against (absolute, native form).
  explicit PosixFiles(std::string root);

  [[nodiscard]] std::string working_directory() const override;
  [[nodiscard]] std::optional<std::string> read(const std::string& path) const override;
  [[nodiscard]] std::optional<std::string> read(const std::string& path,
                                                std::size_t max_bytes) const override;
  [[nodiscard]] bool write(const std::string& path, const std::string& contents) override;
  [[nodiscard]] bool write_durably(const std::string& path, const std::string& contents) override;
  [[nodiscard]] std::optional<std::uint64_t> free_space(const std::string& folder) const override;
  [[nodiscard]] Kind kind(const std::string& path) const override;
  bool remove_file(const std::string& path) override;
  bool create_directory(const std::string& path) override;
  bool move(const std::string& from, const std::string& to) override;
  [[nodiscard]] std::optional<std::vector<Entry>> read_folder(
      const std::string& path) const override;
  [[nodiscard]] std::string native_path(const std::string& path) const override;

 private:
  std::string root_;
};

// The process's current working directory, or "" when it cannot be read.
std::string current_directory();
// The running program's file, or "" when it cannot be told.
std::string executable_path();
// The folder the running program's file lies in, or "" when it cannot be told.
std::string executable_directory();

}  // namespace tarvel
