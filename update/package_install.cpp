#include "update/package_install.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <unordered_set>

#include "core/app.hpp"
#include "core/listed_names.hpp"
#include "core/settings_readers.hpp"
#include "update/download.hpp"
#include "update/release_check.hpp"

namespace tarvel {
namespace {

// A file takes whole blocks of the disk: a staged file is counted as this
// many bytes at least, and in steps of it.
constexpr std::uint64_t kBlockBytes = 4096;
constexpr double kBytesPerMib = 1024.0 * 1024.0;

std::string folder_of(const std::string& path) {
  const auto separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string file_name_of(const std::string& path) { return path.substr(folder_of(path).size()); }

std::string relative_to(const std::string& path, const std::string& directory) {
  return path.starts_with(directory) ? path.substr(directory.size()) : path;
}

void make_folders(App& app, const std::vector<std::string>& folders) {
  const std::string directory = app.settings().application_directory();
  for (const std::string& folder : folders) (void)app.files().create_directory(directory + folder);
}

// --- plan ---

// The files the entries stand for: where from, where to, and (with sums)
// what each must be. False when the sums give one of them none.
bool plan_entries(App& app, const ManifestEntries& read, const std::string& local_base,
                  const std::string& address_base, const Sums* sums,
                  const std::string& manifest_path, InstallPlan& plan) {
  plan.folders = read.folders;
  const std::vector<EntryTransfer> transfers =
      entry_transfers(app, read.entries, local_base, address_base);
  plan.files.reserve(transfers.size());
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    PlannedFile file{.address = transfers[i].address,
                     .target = transfers[i].local_path,
                     .name = read.entries[i].remote_path};
    if (sums != nullptr) {
      file.sum = sum_of_entry(app, *sums, read.entries[i], manifest_path);
      if (!file.sum) return false;
      file.coded = coded_downloads(app, *sums, sums_key(file.name), file.address, file.target);
    }
    plan.files.push_back(std::move(file));
  }
  return true;
}

// Whether an earlier attempt left the file staged whole; only its sum can
// tell a whole file from one of another release.
bool staged_whole(App& app, const PlannedFile& file) {
  if (!file.sum || app.files().kind(file.staged) != Files::Kind::file) return false;
  const std::optional<FileSum> sum = file_sum(app.files().native_path(file.staged));
  return sum && *sum == *file.sum;
}

bool decide_staging(App& app, PlannedFile& file, bool fresh) {
  const Files::Kind there = app.files().kind(file.target);
  if (there == Files::Kind::directory) {
    app.log().cause(printable(file.target) + ": a folder stands where the file goes, refused");
    return false;
  }
  if (fresh && there == Files::Kind::missing) {
    file.staged = file.target;
    return true;
  }
  file.staged = staged_name(file.target);
  file.fetch = !staged_whole(app, file);
  return true;
}

// Saturates: a sum may claim any size.
std::uint64_t add_blocks(std::uint64_t total, std::uint64_t bytes) {
  const std::uint64_t blocks = bytes / kBlockBytes + (bytes % kBlockBytes != 0 || bytes == 0);
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
  if (blocks > (limit - total) / kBlockBytes) return limit;
  return total + blocks * kBlockBytes;
}

// "12.5": bytes in MiB, to a tenth.
std::string mib(std::uint64_t bytes) {
  std::array<char, 32> text{};
  (void)std::snprintf(text.data(), text.size(), "%.1f", static_cast<double>(bytes) / kBytesPerMib);
  return text.data();
}

// Whether the files to fetch fit the free space of the application
// directory's file system (where every staged file lies, beside its
// target). Only sums tell the sizes beforehand; without them the fetch
// finds out.
bool room_for(App& app, const InstallPlan& plan) {
  std::uint64_t needed = 0;
  for (const PlannedFile& file : plan.files) {
    if (!file.sum) return true;
    if (file.fetch) needed = add_blocks(needed, file.sum->size);
  }
  const std::string directory = app.settings().application_directory();
  const std::optional<std::uint64_t> free = app.files().free_space(directory);
  if (needed == 0 || !free || *free >= needed) return true;
  app.log().cause(printable(app.files().native_path(directory)) +
                  ": not enough free space: the installation needs " + mib(needed) + " MiB, " +
                  mib(*free) + " MiB free");
  return false;
}

// Reads the manifest (whole, or the delta after installed_label) into the
// plan and decides its transfers; read keeps what the manifest lists.
bool plan_manifest(App& app, const std::string& manifest, const std::string* installed_label,
                   const std::string& local_base, const std::string& address_base, const Sums* sums,
                   bool fresh, InstallPlan& plan, ManifestEntries& read) {
  const bool accepted = installed_label != nullptr
                            ? read_delta_entries(app, manifest, *installed_label, read)
                            : read_full_entries(app, manifest, read);
  // The history keeps lines of files that later releases dropped.
  if (accepted && installed_label != nullptr && sums != nullptr) {
    read.entries = entries_still_released(*sums, read.entries);
  }
  if (!accepted || !plan_entries(app, read, local_base, address_base, sums, manifest, plan)) {
    return install_failed(app);
  }
  return plan_transfers(app, plan, fresh);
}

// The progress total: every line of the manifest that lists a file, as
// count_entries() counts them.
void count_listed(App& app, const ManifestEntries& read) {
  app.settings().locked([&](SettingsValues& v) {
    v.item_count = read.entry_lines;
    v.item_index = 0;
  });
}

// What the record of the package says once the plan is committed: the
// files of the whole package, or those of the delta on top of what it held.
// Without sums nothing vouches for the files any more, and it goes.
void plan_record(App& app, const std::string& record, const std::optional<Sums>& sums, bool whole,
                 InstallPlan& plan) {
  const std::optional<std::string> previous = app.files().read(record);
  if (!sums) {
    if (previous) plan.labels.push_back({JournalStep::Kind::remove, "", record});
    return;
  }
  InstalledRecord next;
  if (!whole && previous) next = parse_installed_record(*previous).value_or(InstalledRecord{});
  next.version = sums->version;
  next.serial = sums->serial;
  const std::string directory = app.settings().application_directory();
  for (const PlannedFile& file : plan.files) {
    next.files[relative_to(file.target, directory)] = {file.address, *file.sum};
  }
  // An update that brought nothing new leaves the record (and its date) alone.
  std::string text = installed_record_text(next);
  if (previous != text) plan.records.emplace_back(record, std::move(text));
}

// --- fetch ---

// Files an earlier attempt staged whole count as done at once (the index
// never passing the count).
void count_staged(App& app, std::size_t staged) {
  app.settings().locked([&](SettingsValues& v) {
    if (v.item_count > 0) {
      v.item_index = static_cast<int>(std::min<std::size_t>(
          static_cast<std::size_t>(v.item_count), static_cast<std::size_t>(v.item_index) + staged));
    }
  });
}

// --- commit ---

// The record and the manifests wait under staging names too, and take
// their places after the files, in the same journal.
bool stage_labels(App& app, const InstallPlan& plan, Journal& steps) {
  for (const auto& [name, text] : plan.records) {
    if (!app.files().write(staged_name(name), text)) {
      return install_failed(app, printable(staged_name(name)) + ": could not be written");
    }
    steps.push_back({JournalStep::Kind::move, staged_name(name), name});
  }
  for (const JournalStep& step : plan.labels) {
    if (step.kind == JournalStep::Kind::move) {
      if (!app.files().move(step.from, staged_name(step.to))) {
        return install_failed(app, printable(step.to) + ": the manifest could not be put in place");
      }
      steps.push_back({JournalStep::Kind::move, staged_name(step.to), step.to});
    } else {
      steps.push_back(step);
    }
  }
  return true;
}

// What earlier attempts staged and no commit took (a release the server has
// since replaced) goes once a commit in the same folders succeeded.
void sweep_staged(App& app, const InstallPlan& plan) {
  std::unordered_set<std::string> folders;
  for (const PlannedFile& file : plan.files) {
    const std::string folder = folder_of(file.target);
    if (!folders.insert(folder).second) continue;
    for (const Files::Entry& entry : app.files().list(folder)) {
      if (entry.kind == Files::Kind::file && is_staged_name(entry.name) &&
          addressable_name(entry.name)) {
        (void)app.files().remove_file(folder + entry.name);
      }
    }
  }
}

// --- the sequences ---

// A manifest an install reads: where it was fetched to and from, and for a
// delta the installed version it continues (nothing: the whole manifest).
struct ManifestRead {
  std::string path;
  std::string address;
  const std::string* installed_label = nullptr;
};

// Plans the release the manifest stands for: its sums checked, its files,
// the record, then the labels (the manifests, moved from where they were
// fetched). What the manifest and the sums list is let go before the fetch:
// the plan holds what the rest needs.
bool plan_release(App& app, const PackageSource& source, const std::string& install_name,
                  const ManifestRead& manifest, bool fresh, const Journal& labels,
                  InstallPlan& plan) {
  const std::string record = installed_record_name(install_name);
  std::optional<Sums> sums;
  if (!fetch_release_sums(app, install_name, manifest.address, manifest.path, record, sums)) {
    return false;
  }
  ManifestEntries read;
  const bool planned = plan_manifest(app, manifest.path, manifest.installed_label, source.directory,
                                     source.url, sums ? &*sums : nullptr, fresh, plan, read);
  count_listed(app, read);
  if (!planned) return false;
  plan_record(app, record, sums, manifest.installed_label == nullptr, plan);
  plan.labels.insert(plan.labels.end(), labels.begin(), labels.end());
  return true;
}

bool install_release(App& app, const PackageSource& source, const std::string& install_name,
                     const ManifestRead& manifest, bool fresh, const Journal& labels) {
  InstallPlan plan;
  return plan_release(app, source, install_name, manifest, fresh, labels, plan) &&
         fetch_planned(app, plan) && commit_planned(app, journal_name(install_name), plan);
}

// The whole package from its installation manifest, which takes its name
// with the commit, before the labels given (the update manifest, when the
// whole package replaces an installed release).
bool install_whole(App& app, const PackageSource& source, const std::string& install_name,
                   bool fresh, const Journal& labels) {
  const std::string temp = source.directory + kFirstInstallPrefix + install_name;
  const std::string address = source.manifest_base + install_name;
  if (!download_file(app, address, temp)) return false;
  Journal moves{{JournalStep::Kind::move, temp, source.directory + install_name}};
  moves.insert(moves.end(), labels.begin(), labels.end());
  return install_release(app, source, install_name, {temp, address}, fresh, moves);
}

// A bare manifest's entries, installed into local_base.
bool install_listed(App& app, EntryList& entries, const ManifestRead& manifest,
                    const std::string& local_base, const std::string& address_base,
                    const Sums* sums, bool fresh) {
  InstallPlan plan;
  ManifestEntries read;
  const bool planned = plan_manifest(app, manifest.path, manifest.installed_label, local_base,
                                     address_base, sums, fresh, plan, read);
  entries = std::move(read.entries);
  return planned && fetch_planned(app, plan) &&
         commit_planned(app, journal_name(file_name_of(manifest.path)), plan);
}

}  // namespace

bool refused_setting(App& app, const char* key, const std::string& value) {
  const std::string settings = kSettingsFileName;
  if (value.empty()) {
    return install_failed(app, settings + " has no " + key + "= line, so the package it names " +
                                   "cannot be installed");
  }
  return install_failed(app, settings + ": " + key + "=" + printable(value) +
                                 " is not a plain file name, refused");
}

bool plan_transfers(App& app, InstallPlan& plan, bool fresh) {
  for (PlannedFile& file : plan.files) {
    if (!decide_staging(app, file, fresh)) return install_failed(app);
  }
  return room_for(app, plan) || install_failed(app);
}

bool fetch_planned(App& app, const InstallPlan& plan) {
  make_folders(app, plan.folders);
  std::vector<FileDownload> downloads;
  downloads.reserve(plan.files.size());
  for (const PlannedFile& file : plan.files) {
    if (file.fetch) {
      downloads.push_back({file.address, file.staged,
                           file.sum ? body_check(*file.sum, file.name) : nullptr, file.coded});
    }
  }
  count_staged(app, plan.files.size() - downloads.size());
  return download_files(app, downloads);
}

bool commit_planned(App& app, const std::string& journal, const InstallPlan& plan) {
  Journal steps;
  for (const PlannedFile& file : plan.files) {
    if (file.staged != file.target) {
      steps.push_back({JournalStep::Kind::move, file.staged, file.target});
    }
  }
  if (!stage_labels(app, plan, steps) || !commit_journal(app, journal, steps)) {
    return install_failed(app);
  }
  sweep_staged(app, plan);
  return true;
}

void create_target_folders(App& app, const std::string& folder) {
  if (stays_inside(folder)) make_folders(app, target_folder_prefixes(folder));
}

bool handle_entry_line(App& app, std::string_view line, EntryList& entries) {
  ManifestEntries read;
  if (!read_entry_line(app, line, read)) return false;
  make_folders(app, read.folders);
  entries.insert(entries.end(), read.entries.begin(), read.entries.end());
  return true;
}

bool install_full_manifest(App& app, EntryList& entries, const std::string& manifest_path,
                           const std::string& local_base, const std::string& address_base,
                           const Sums* sums) {
  return install_listed(app, entries, {manifest_path, ""}, local_base, address_base, sums, true);
}

bool install_manifest_delta(App& app, EntryList& entries, const std::string& manifest_path,
                            const std::string& local_base, const std::string& address_base,
                            const std::string& installed_label, const std::string& server_label,
                            const Sums* sums) {
  entries.clear();
  if (installed_label == server_label) return true;
  return install_listed(app, entries, {manifest_path, "", &installed_label}, local_base,
                        address_base, sums, false);
}

bool install_package_from_scratch(App& app, const PackageSource& source,
                                  const std::string& install_name) {
  return install_whole(app, source, install_name, true, {});
}

bool apply_package_update(App& app, const PackageSource& source, const std::string& install_name,
                          const std::string& update_name, const std::string& installed_label) {
  const std::string temp = app.settings().temp_manifest_name();
  if (read_version_label(app, temp) == installed_label) return true;
  const Journal keep_update{{JournalStep::Kind::move, temp, update_name}};
  if (manifest_holds_label(app, temp, installed_label)) {
    return install_release(app, source, install_name,
                           {temp, source.manifest_base + update_name, &installed_label}, false,
                           keep_update);
  }
  // The history does not reach back to the installed version (the server
  // dropped old versions, or the local record is from elsewhere): no delta
  // can say what changed since, so the whole package comes again, and both
  // manifests take their places in one commit.
  return install_whole(app, source, install_name, false, keep_update);
}

}  // namespace tarvel
