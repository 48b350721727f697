#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/download.hpp"
#include "update/install_journal.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"
#include "update/sums.hpp"

namespace tarvel {

class App;

// How a package is installed, in three steps:
//
//   plan    the manifest and its sums are read and checked, every entry is
//           validated, and each file's address, target and staging name are
//           decided, with the room the staged files need; nothing on disk
//           changes;
//   fetch   the target folders are made and the batch transfer writes every
//           file to its staging name beside its target, checked against its
//           sum as it arrives (resumable, as any download);
//   commit  once every file is whole: a journal of the renames is written to
//           the disk, the renames run, the record and the manifests (which
//           say what is installed) take their places last, the journal goes.
//
// A failure before the commit leaves every installed file and label as it
// was: staged files wait for the next attempt, which takes those that match
// their sums without fetching them again. A commit cut short (a crash, a
// power cut) is finished from its journal by finish_interrupted_commits(),
// at the next start or the next install, whichever comes first.

// One file of a plan.
struct PlannedFile {
  std::string address;
  std::string target;  // launcher form, absolute or relative to the application directory
  std::string name;    // what standard error calls it: its source path, or the local one
  // Where the fetch writes it: staged_name(target), or the target itself
  // for a package with no release installed yet when nothing stands there
  // (there is nothing to protect, and nothing to mix with).
  std::string staged{};
  std::optional<FileSum> sum = std::nullopt;  // what it must be, when sums say
  // Cheaper ways to it that the sums announce, best first: a patch against
  // the installed target (when the plan found the target to be its base),
  // the compressed copy. Each decodes into staged and must give sum; one
  // that does not gives way to the next, the last to the whole file.
  std::vector<CodedDownload> coded{};
  bool fetch = true;                          // false: an earlier attempt staged it whole
};

// Everything an installation does, decided before it does any of it.
struct InstallPlan {
  std::vector<std::string> folders;  // relative to the application directory, parents first
  std::vector<PlannedFile> files;
  // Written after the files: the record of what is installed (by name,
  // with its text) and the manifests, moved from where they were fetched.
  std::vector<std::pair<std::string, std::string>> records;
  Journal labels;
};

// The three steps, for the sequences below and the repair.

// Decides where each file is fetched to and whether it must be: refuses a
// target a folder stands in, and (where sums give the sizes) a plan whose
// files do not fit the free space of the application directory's file
// system, with one line on standard error naming the folder and the space
// needed. fresh: no release of the package is installed.
[[nodiscard]] bool plan_transfers(App& app, InstallPlan& plan, bool fresh);
[[nodiscard]] bool fetch_planned(App& app, const InstallPlan& plan);
// journal: the name of the journal, in the application directory.
[[nodiscard]] bool commit_planned(App& app, const std::string& journal, const InstallPlan& plan);

// Makes the folders of target_folder_prefixes() under the application
// directory, as a fetch does; failures are ignored. A folder that would lie
// outside the application directory is never made.
void create_target_folders(App& app, const std::string& folder);

// Adds the entry of one manifest line (which holds a ","), making its target
// folders first, as an installation does. A line whose source path has no
// file name adds nothing. False when the line is refused (see
// read_entry_line()): such a line adds nothing and makes nothing.
[[nodiscard]] bool handle_entry_line(App& app, std::string_view line, EntryList& entries);

// Downloads every entry of the manifest to the local base; a package that
// has no release there yet, so a file fetched where nothing stood stays
// when a later one fails. False at the first failed download, and before
// any download when the manifest is refused (status 401). With sums, every
// file must match its sum.
[[nodiscard]] bool install_full_manifest(App& app, EntryList& entries,
                                         const std::string& manifest_path,
                                         const std::string& local_base,
                                         const std::string& address_base,
                                         const Sums* sums = nullptr);

// Downloads what the update manifest lists after the installed version;
// nothing when the two labels are equal. With sums, what the release no
// longer holds is left out (see entries_still_released). All or nothing: a
// failure leaves every file as it was.
[[nodiscard]] bool install_manifest_delta(
    App& app, EntryList& entries, const std::string& manifest_path, const std::string& local_base,
    const std::string& address_base, const std::string& installed_label,
    const std::string& server_label, const Sums* sums = nullptr);

// Installs a package that is not there yet: fetches its installation
// manifest and every file it lists, then keeps the manifest as install_name.
// Where the server publishes sums (or the update key asks for them), each
// file must match its sum, and the record of what was installed is kept.
// False when a download failed or the manifest could not take its name; the
// package then still reads as not installed.
[[nodiscard]] bool install_package_from_scratch(App& app, const PackageSource& source,
                                                const std::string& install_name);

// Brings an installed package from installed_label to the version of the
// server's update manifest, already fetched to the temporary manifest name:
// fetches what it lists after the installed version, then keeps it as
// update_name, the record of the version now installed. When no line of it
// names the installed version, the whole package is installed afresh from
// install_name instead. Nothing is fetched when the labels are equal. False
// when a download failed, a manifest was refused or could not take its
// name; the package's files and manifests are then as they were.
[[nodiscard]] bool apply_package_update(App& app, const PackageSource& source,
                                        const std::string& install_name,
                                        const std::string& update_name,
                                        const std::string& installed_label);

}  // namespace tarvel
