#pragma once

#include "platform/files.hpp"
#include "platform/shell.hpp"

namespace tarvel {

// Shell work done with system calls only: no command interpreter is started,
// and every operation has finished when it returns. Paths are mapped to the
// disk as the given Files maps them.
class PosixShell final : public Shell {
 public:
  explicit PosixShell(const Files& files) : files_(files) {}

  bool force_delete_file(const std::string& path) override;
  bool remove_folder_tree(const std::string& path) override;
  bool move_replacing(const std::string& from, const std::string& to) override;
  bool mark_executable(const std::string& path) override;

 private:
  const Files& files_;
};

}  // namespace tarvel
