#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/release_check.hpp"

namespace tarvel {

class App;

// One installed file that is not what its record says.
struct BrokenFile {
  enum class Problem { missing, changed };
  std::string local_path;  // relative to the application directory
  InstalledFile file;
  Problem problem = Problem::missing;
  bool operator==(const BrokenFile&) const = default;
};

// What a check of the installed tree against the records found.
struct TreeReport {
  std::size_t records = 0;  // packages with a record
  std::size_t files = 0;    // files checked
  std::uint64_t bytes = 0;  // their recorded size
  std::vector<BrokenFile> broken;

  // What a repair fetches.
  [[nodiscard]] std::uint64_t repair_bytes() const;
};

// Hears how far a long piece of work is: done of total.
using ProgressReport = std::function<void(std::size_t done, std::size_t total)>;

// Checks every file that the records of installed packages list (each
// record beside its package's installation manifest) against its size and
// SHA-256. Reads each file once; a file that is not a plain file counts as
// changed.
[[nodiscard]] TreeReport verify_installed_tree(App& app, const ProgressReport& progress = {});

// Fetches the broken files again (several at once, resumable, each checked
// against its sum as it arrives), then checks them once more. The files
// still broken afterwards; empty when the repair worked.
[[nodiscard]] std::vector<BrokenFile> repair_installed_tree(App& app, const TreeReport& report);

}  // namespace tarvel
