#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvel {

class Files;

// One release of one package, as an operator publishes it.
struct PackageRelease {
  std::string group;      // first part of the manifest names ("common", "update", "en"; "" none)
  std::string package;    // package name ("slot", "login", "common")
  std::string version;    // release label: the headers read "$version-" + version
  std::string mandatory;  // mandatory label ("$versionm-" + it); "" keeps the current one
  // Path launchers fetch the package folder by: a folder under the url
  // setting's address, or one under common_url or game_url when it starts
  // with "COMMON/" or "GAMES/". "/" between folders.
  std::string source;
  // Folder the files go to, relative to the application directory ("" the
  // directory itself); "/" or "\" between folders.
  std::string target;
  std::string package_dir;  // the package's files
  std::string out_dir;      // where the manifests and the state file go
  // Ed25519 private key (base64 of its seed) that signs the sums files; ""
  // writes them unsigned.
  std::string signing_key{};
};

struct ReleaseResult {
  // Why nothing was written: each names the file or option at fault.
  std::vector<std::string> problems;
  std::string install_name;  // the manifests' and the state file's names in out_dir
  std::string update_name;
  std::string state_name;
  std::string version_header;  // "$version-" + the label
  int files = 0;               // entries of the installation manifest
  std::uint64_t serial = 0;    // of this release's sums files
  // Since the previous release (relative paths, sorted): what the update
  // manifest lists for this release, and what is gone. Launchers delete
  // nothing, so removed files stay on players' machines.
  std::vector<std::string> changed;
  std::vector<std::string> removed;
  bool first_release = false;
  // This label was published before with these very files: nothing rewritten
  // but sums of the first form, which named no package (sums_renewed).
  bool already_published = false;
  bool sums_renewed = false;

  [[nodiscard]] bool ok() const { return problems.empty(); }
};

// Writes the package's installation manifest (the whole package), its
// update manifest (the previous update manifest's lines, then this release's
// header and a line for every file new or changed since the previous
// release), a sums file beside each (naming the package by its installation
// manifest, signed with the release's key when it has one; the serial one
// higher than the previous release's), and keeps a content hash of every
// file in a state file beside them for the next release. Refuses, writing nothing, a file name that
// launchers would fetch or place wrongly, and a label that would make
// launchers find the wrong place in the history.
[[nodiscard]] ReleaseResult publish_package(Files& files, const PackageRelease& release);

}  // namespace tarvel
