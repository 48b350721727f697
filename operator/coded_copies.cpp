#include "operator/coded_copies.hpp"

#include <algorithm>
#include <set>

#include "operator/zstd_copies.hpp"
#include "platform/files.hpp"

namespace tarvel {
namespace {

// A copy is published only when it saves at least this share of the file.
constexpr double kLeastSaving = 0.10;
// A quick compression that saves less than this says the strong one will
// not reach the share above either (images, sounds): it is not tried.
constexpr double kQuickSavingWorthTrying = 0.05;
constexpr std::size_t kPatchPrefixSize = 6;  // ".from-"
constexpr std::size_t kPatchDigits = 16;
constexpr std::string_view kPatchEnd = ".zpatch";
constexpr std::string_view kBaseEnd = ".zst";

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

bool saves_enough(std::size_t copy, std::size_t whole, double share) {
  return static_cast<double>(copy) <= static_cast<double>(whole) * (1.0 - share);
}

// What the stem of a patch's name is: "a.js.from-0123456789abcdef.zpatch" gives "a.js".
std::optional<std::string> patch_stem(const std::string& relative) {
  const std::size_t tail = kPatchPrefixSize + kPatchDigits + kPatchEnd.size();
  if (relative.size() <= tail || !relative.ends_with(kPatchEnd)) return std::nullopt;
  const std::string stem = relative.substr(0, relative.size() - tail);
  if (relative.compare(stem.size(), kPatchPrefixSize, ".from-") != 0) return std::nullopt;
  return stem;
}

class CopyWriter {
 public:
  CopyWriter(Files& files, const std::string& package_dir, const std::string& bases_dir)
      : files_(files), package_dir_(package_dir), bases_dir_(bases_dir) {}

  void run(const std::vector<ReleasedFile>& released, const std::vector<std::string>& stale) {
    (void)files_.create_directory(bases_dir_);
    for (const ReleasedFile& file : released) {
      const auto bytes = files_.read(joined(package_dir_, file.relative));
      if (!bytes) {
        out_.problems.push_back(file.relative + ": cannot be read");
        continue;
      }
      const std::size_t sent = write_compressed(file, *bytes);
      if (file.previous_sha256) write_patch(file, *bytes, sent);
      keep_base(file, *bytes);
    }
    for (const std::string& name : stale) {
      if (!written_.contains(name)) (void)files_.remove_file(joined(package_dir_, name));
    }
    drop_old_bases(released);
  }

  CodedCopies result() { return std::move(out_); }

 private:
  // The bytes a launcher fetches for the whole file: the copy's, or the file's.
  std::size_t write_compressed(const ReleasedFile& file, const std::string& bytes) {
    const auto quick = quick_copy(bytes);
    if (!quick || !saves_enough(quick->size(), bytes.size(), kQuickSavingWorthTrying)) {
      return bytes.size();
    }
    const auto copy = compressed_copy(bytes);
    if (!copy || !saves_enough(copy->size(), bytes.size(), kLeastSaving)) return bytes.size();
    if (!write(file.relative + std::string(kCompressedSuffix), *copy)) return bytes.size();
    out_.compressed[file.key] = {sha256_hex(*copy), copy->size()};
    return copy->size();
  }

  void write_patch(const ReleasedFile& file, const std::string& bytes, std::size_t sent) {
    const auto kept = files_.read(base_path(*file.previous_sha256));
    const auto base = kept ? decompressed(*kept) : std::nullopt;
    if (!base || sha256_hex(*base) != *file.previous_sha256) return;
    const auto patch = patch_from(*base, bytes);
    if (!patch || patch->size() >= sent) return;
    if (!write(file.relative + patch_suffix(*file.previous_sha256), *patch)) return;
    out_.patches[file.key].push_back({*file.previous_sha256, {sha256_hex(*patch), patch->size()}});
  }

  void keep_base(const ReleasedFile& file, const std::string& bytes) {
    const std::string path = base_path(file.sum.sha256);
    if (files_.kind(path) == Files::Kind::file) return;
    const auto copy = quick_copy(bytes);
    if (!copy || !files_.write(path, *copy)) {
      out_.problems.push_back(path + ": cannot be written");
    }
  }

  void drop_old_bases(const std::vector<ReleasedFile>& released) {
    std::set<std::string> current;
    for (const ReleasedFile& file : released) current.insert(file.sum.sha256 + std::string(kBaseEnd));
    for (const Files::Entry& entry : files_.list(bases_dir_)) {
      if (!current.contains(entry.name)) (void)files_.remove_file(joined(bases_dir_, entry.name));
    }
  }

  bool write(const std::string& relative, const std::string& bytes) {
    written_.insert(relative);
    if (files_.write(joined(package_dir_, relative), bytes)) return true;
    out_.problems.push_back(relative + ": cannot be written");
    return false;
  }

  std::string base_path(const std::string& sha256) const {
    return joined(bases_dir_, sha256 + std::string(kBaseEnd));
  }

  Files& files_;
  const std::string& package_dir_;
  const std::string& bases_dir_;
  CodedCopies out_;
  std::set<std::string> written_;
};

}  // namespace

std::string bases_folder_name(const std::string& state_name) { return state_name + ".bases"; }

bool is_coded_copy(const std::string& relative,
                   const std::function<bool(const std::string&)>& is_file) {
  if (relative.ends_with(kCompressedSuffix) &&
      is_file(relative.substr(0, relative.size() - kCompressedSuffix.size()))) {
    return true;
  }
  const auto stem = patch_stem(relative);
  return stem && is_file(*stem);
}

CodedCopies write_coded_copies(Files& files, const std::string& package_dir,
                               const std::string& bases_dir,
                               const std::vector<ReleasedFile>& released,
                               const std::vector<std::string>& stale) {
  CopyWriter writer(files, package_dir, bases_dir);
  writer.run(released, stale);
  return writer.result();
}

}  // namespace tarvel
