#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "update/sums.hpp"

namespace tarvel {

class Files;

// A file of a release, as the compressed copies and patches see it.
struct ReleasedFile {
  std::string relative;  // in the package folder, "/" between folders
  std::string key;       // its source path in the sums
  FileSum sum;
  std::optional<std::string> previous_sha256;  // when it changed since the previous release
};

struct CodedCopies {
  std::map<std::string, FileSum> compressed;                // by sums key
  std::map<std::string, std::vector<PatchSum>> patches;     // by sums key
  std::vector<std::string> problems;
};

// Where a package keeps its releases' files for the next release's patches:
// beside the state file, "<state name>.bases".
[[nodiscard]] std::string bases_folder_name(const std::string& state_name);

// Whether a name in the package folder is a compressed copy or a patch this
// tool wrote beside a file (is_file tells the files of the package, this
// release's or the previous one's).
[[nodiscard]] bool is_coded_copy(const std::string& relative,
                                 const std::function<bool(const std::string&)>& is_file);

// Writes beside each file its compressed copy ("<file>.zst") where it saves
// at least a tenth, and for a file that changed a patch against the previous
// release's file where that one is kept in bases_dir and the patch is the
// smaller; removes the copies and patches of earlier releases (stale: what
// the package folder held of them). Keeps this release's files in bases_dir
// for the next release, and only those.
[[nodiscard]] CodedCopies write_coded_copies(Files& files, const std::string& package_dir,
                                             const std::string& bases_dir,
                                             const std::vector<ReleasedFile>& released,
                                             const std::vector<std::string>& stale);

}  // namespace tarvel
