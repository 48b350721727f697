#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// A file descriptor that closes itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Opens the folder `relative` ("/"-separated; "" is the root itself) below
// root one component at a time, never following a symbolic link and never
// climbing with "..": whatever stands in the application directory, a change
// made through the descriptor stays inside it. Links at or above root are
// the system's and are followed. With create, missing folders are made on
// the way. An invalid descriptor (errno set) when a component is a link, not
// a folder, "..", or cannot be opened.
[[nodiscard]] UniqueFd open_folder_beneath(const std::string& root, std::string_view relative,
                                           bool create = false);

// The folder that holds a file and the file's name within it.
struct ParentFolder {
  UniqueFd folder;
  std::string name;
};

// The folder of path (absolute, native form), opened as open_folder_beneath
// does when path lies below root. A path elsewhere (or an empty root) is
// opened as the system resolves it. Nothing (errno set) when the folder
// cannot be opened or the path names no file ("", ".", "..", a trailing "/").
[[nodiscard]] std::optional<ParentFolder> open_parent_folder(const std::string& root,
                                                             const std::string& path);

// Removes whatever the name in the folder is: a folder with its contents,
// or a file or link by itself (never what a link points to). True when the
// name is gone.
bool remove_entry_at(int parent_fd, const std::string& name);

}  // namespace tarvel
