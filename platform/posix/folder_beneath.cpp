#include "platform/posix/folder_beneath.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace tarvel {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// One step down: the component must be a real folder, not a link to one.
// O_NOFOLLOW makes a link fail with ELOOP (or ENOTDIR with O_DIRECTORY).
UniqueFd step_into(int folder, const std::string& name, bool create) {
  if (name == "..") {
    errno = EACCES;
    return UniqueFd();
  }
  int fd = ::openat(folder, name.c_str(), kFolderFlags | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT && create) {
    if (::mkdirat(folder, name.c_str(), 0755) != 0 && errno != EEXIST) return UniqueFd();
    fd = ::openat(folder, name.c_str(), kFolderFlags | O_NOFOLLOW);
  }
  return UniqueFd(fd);
}

bool names_a_file(std::string_view name) { return !name.empty() && name != "." && name != ".."; }

// The part of path below root, or nothing when path is not below it.
std::optional<std::string_view> below_root(const std::string& root, std::string_view path) {
  if (root.empty()) return std::nullopt;
  const std::string_view base = root.back() == '/'
                                    ? std::string_view(root).substr(0, root.size() - 1)
                                    : std::string_view(root);
  if (path.size() <= base.size() + 1 || !path.starts_with(base) || path[base.size()] != '/') {
    return std::nullopt;
  }
  return path.substr(base.size() + 1);
}

std::vector<std::string> names_in(int folder_fd) {
  std::vector<std::string> names;
  const int list_fd = ::fcntl(folder_fd, F_DUPFD_CLOEXEC, 0);
  if (list_fd < 0) return names;
  DIR* dir = ::fdopendir(list_fd);
  if (dir == nullptr) {
    ::close(list_fd);
    return names;
  }
  while (const dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

// Empties a folder opened without following links, then removes it.
bool remove_folder_at(int parent_fd, const std::string& name, int folder_fd) {
  bool removed = true;
  for (const std::string& child : names_in(folder_fd))
    removed = remove_entry_at(folder_fd, child) && removed;
  ::close(folder_fd);
  return ::unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) == 0 && removed;
}

}  // namespace

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd open_folder_beneath(const std::string& root, std::string_view relative, bool create) {
  UniqueFd folder(::open(root.c_str(), kFolderFlags));
  std::size_t start = 0;
  while (folder.valid() && start < relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string name(relative.substr(start, end - start));
    start = end + 1;
    if (name.empty() || name == ".") continue;
    folder = step_into(folder.get(), name, create);
  }
  return folder;
}

std::optional<ParentFolder> open_parent_folder(const std::string& root, const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!names_a_file(name)) {
    errno = EINVAL;
    return std::nullopt;
  }
  UniqueFd folder;
  if (const auto relative = below_root(root, path)) {
    const auto last = relative->find_last_of('/');
    folder = open_folder_beneath(
        root, last == std::string_view::npos ? std::string_view() : relative->substr(0, last));
  } else {
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    folder = UniqueFd(::open(parent.c_str(), kFolderFlags));
  }
  if (!folder.valid()) return std::nullopt;
  return ParentFolder{std::move(folder), name};
}

// O_NOFOLLOW makes a link fail to open as a folder, so it is unlinked and
// what it points to stays.
bool remove_entry_at(int parent_fd, const std::string& name) {
  const int folder_fd =
      ::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder_fd >= 0) return remove_folder_at(parent_fd, name, folder_fd);
  if (errno != ENOTDIR && errno != ELOOP) return errno == ENOENT;
  return ::unlinkat(parent_fd, name.c_str(), 0) == 0 || errno == ENOENT;
}

}  // namespace tarvel
