#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/shell.hpp"

namespace tarvel {

// Shell work as the Windows build does it: each operation becomes one line for
// a hidden command interpreter, handed to `start` (which starts it and does
// not wait). The lines run in the application directory, so names are given
// relative to it. A name that the interpreter would read as more than a name
// (a quote closing the argument early, a % expanding a variable) is refused
// and no line is started.
class CommandLineShell final : public Shell {
 public:
  using Start = std::function<void(const std::string& command_line)>;
  explicit CommandLineShell(Start start) : start_(std::move(start)) {}

  bool force_delete_file(const std::string& path) override {
    return run("cmd /c DEL /F  ", path, "");
  }
  bool remove_folder_tree(const std::string& path) override {
    return run("cmd /c rmdir /s/q ", path, "");
  }
  bool move_replacing(const std::string& from, const std::string& to) override {
    return is_quotable(to) && run("cmd /c move /y ", from, " " + quoted(to));
  }
  // Windows runs any file with a program suffix; there is nothing to mark.
  bool mark_executable(const std::string&) override { return true; }

 private:
  static bool is_quotable(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name) {
      if (c == '"' || c == '%' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
  }
  static std::string quoted(const std::string& name) { return "\"" + name + "\""; }

  bool run(const std::string& command, const std::string& name, const std::string& rest) {
    if (!is_quotable(name)) return false;
    start_(command + quoted(name) + rest);
    return true;
  }

  Start start_;
};

}  // namespace tarvel
