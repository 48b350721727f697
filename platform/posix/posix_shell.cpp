#include "platform/posix/posix_shell.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/folder_beneath.hpp"

namespace tarvel {
namespace {

// A path split into the folder that holds it and its last name.
struct Split {
  std::string parent;
  std::string name;
};

Split split_path(std::string native) {
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  const auto slash = native.find_last_of('/');
  if (slash == std::string::npos) return {".", native};
  return {slash == 0 ? "/" : native.substr(0, slash), native.substr(slash + 1)};
}

// A name that stands for the folder itself or its parent, never for an entry.
bool is_self_or_parent(const std::string& name) {
  return name.empty() || name == "." || name == "..";
}

// The last name of a path as the caller wrote it, before it is made absolute:
// "" stands for the root folder itself, which must never be taken for an entry.
std::string last_name(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  while (!path.empty() && path.back() == '/') path.pop_back();
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool PosixShell::force_delete_file(const std::string& path) {
  const std::string native = files_.native_path(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) return false;
  return ::unlink(native.c_str()) == 0 || errno == ENOENT;
}

bool PosixShell::remove_folder_tree(const std::string& path) {
  if (is_self_or_parent(last_name(path))) return false;
  const Split split = split_path(files_.native_path(path));
  struct stat st {};
  const std::string native = split.parent + "/" + split.name;
  if (::lstat(native.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISREG(st.st_mode)) return false;
  const int parent_fd = ::open(split.parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent_fd < 0) return false;
  const bool removed = remove_entry_at(parent_fd, split.name);
  ::close(parent_fd);
  return removed;
}

bool PosixShell::move_replacing(const std::string& from, const std::string& to) {
  return std::rename(files_.native_path(from).c_str(), files_.native_path(to).c_str()) == 0;
}

bool PosixShell::mark_executable(const std::string& path) {
  // Opened without following a link, so a planted link cannot make some
  // other file executable.
  const int fd =
      ::open(files_.native_path(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool marked = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd, 0755) == 0;
  ::close(fd);
  return marked;
}

}  // namespace tarvel
