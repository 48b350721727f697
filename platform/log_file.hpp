#pragma once

#include <string_view>

namespace tarvel {

// Where the support log's lines are kept: a file that holds itself to a
// size. Appending never fails the caller; a line that cannot be written is
// lost. Safe to call from any thread.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // Adds one line (without its line break), stamped with the time and the
  // process.
  virtual void append(std::string_view line) = 0;
};

}  // namespace tarvel
