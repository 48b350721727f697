#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvel {

class Files;

struct LauncherSumsResult {
  std::vector<std::string> problems;  // why nothing was written
  std::string version;                // the settings file's version label
  std::uint64_t serial = 0;
  std::vector<std::string> files;  // the files the sums vouch for

  [[nodiscard]] bool ok() const { return problems.empty(); }
};

// Writes setup.xml.sums (and, with a signing key, setup.xml.sums.sig) into
// the folder the launcher's release is served from (adding the line that
// announces them to the settings file when it lacks it): the settings file's
// sum and version label, a serial one higher than the previous sums file's,
// and the sums of the launcher program (the settings' exe_name) and of
// Config.xml, the files a self-update fetches.
[[nodiscard]] LauncherSumsResult publish_launcher_sums(Files& files, const std::string& dir,
                                                       const std::string& signing_key);

}  // namespace tarvel
