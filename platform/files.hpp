#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvel {

// File access for the launcher's logic. Paths are written the launcher's way,
// with "\" as separator ("app-popup\login.swf", "games\slot\"); an
// implementation maps them to the disk's own form. A relative path resolves
// against the root the implementation was created with (the application
// directory), never against the process's working directory.
class Files {
 public:
  enum class Kind { missing, file, directory, symlink, other };

  struct Entry {
    std::string name;  // name only, no folder part
    Kind kind = Kind::file;
  };

  virtual ~Files() = default;

  // The folder relative names resolve against, in native form, without a
  // trailing separator ("/home/player/tarvel").
  [[nodiscard]] virtual std::string working_directory() const = 0;

  // Whole contents of a file, or nothing when it cannot be opened.
  [[nodiscard]] virtual std::optional<std::string> read(const std::string& path) const = 0;

  // At most the first max_bytes of a file (all of it when shorter), or
  // nothing when it cannot be opened: for files whose size a server decides.
  [[nodiscard]] virtual std::optional<std::string> read(const std::string& path,
                                                        std::size_t max_bytes) const = 0;

  // Replaces the file's contents. The file appears complete or not at all.
  [[nodiscard]] virtual bool write(const std::string& path, const std::string& contents) = 0;

  // As write(), and true only once the contents and the name are on the
  // disk itself: a power cut afterwards keeps the file.
  [[nodiscard]] virtual bool write_durably(const std::string& path,
                                           const std::string& contents) = 0;

  // Bytes this user may still write to the file system that holds the
  // folder; nothing when the system does not say.
  [[nodiscard]] virtual std::optional<std::uint64_t> free_space(
      const std::string& folder) const = 0;

  // Kind of the entry itself; a symbolic link is reported as a link, not followed.
  [[nodiscard]] virtual Kind kind(const std::string& path) const = 0;

  // Removes a file or a link (a missing file counts as removed).
  virtual bool remove_file(const std::string& path) = 0;

  // Creates one folder; true when it exists afterwards.
  virtual bool create_directory(const std::string& path) = 0;

  // Moves a file over another, replacing it in one step.
  virtual bool move(const std::string& from, const std::string& to) = 0;

  // Entries of a folder, without "." and "..", in no particular order;
  // nothing when the folder cannot be read through to its end.
  [[nodiscard]] virtual std::optional<std::vector<Entry>> read_folder(
      const std::string& path) const = 0;

  // The same, a folder that cannot be read counting as empty.
  [[nodiscard]] std::vector<Entry> list(const std::string& path) const {
    return read_folder(path).value_or(std::vector<Entry>{});
  }

  // The path as the operating system spells it (separators mapped, relative
  // names made absolute), for handing to libraries that open files themselves.
  [[nodiscard]] virtual std::string native_path(const std::string& path) const = 0;
};

}  // namespace tarvel
