#include "platform/posix/posix_files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>

#include "platform/posix/folder_beneath.hpp"
#include "platform/posix/posix_file_sink.hpp"

namespace tarvel {
namespace {

std::optional<std::string> read_all(int fd, std::size_t max_bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  const auto size = static_cast<std::size_t>(std::max<off_t>(st.st_size, 0));
  // One byte more than the size, so the end shows with the first read; a
  // file that grows meanwhile doubles the buffer, up to the limit.
  std::string contents(std::min(size, max_bytes - std::min<std::size_t>(max_bytes, 1)) + 1, '\0');
  std::size_t used = 0;
  while (used < max_bytes) {
    if (used == contents.size()) contents.resize(std::min(contents.size() * 2, max_bytes));
    const ssize_t n = ::read(fd, contents.data() + used, contents.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  contents.resize(used);
  return contents;
}

}  // namespace

PosixFiles::PosixFiles(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string PosixFiles::working_directory() const { return root_; }

std::string PosixFiles::native_path(const std::string& path) const {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  if (native.empty() || native.front() != '/') native = root_ + "/" + native;
  return native;
}

std::optional<std::string> PosixFiles::read(const std::string& path) const {
  return read(path, std::numeric_limits<std::size_t>::max());
}

std::optional<std::string> PosixFiles::read(const std::string& path, std::size_t max_bytes) const {
  // One read into a buffer of the file's size: manifests run to megabytes
  // and are read on every installation.
  const int fd = ::open(native_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> contents = read_all(fd, max_bytes);
  ::close(fd);
  return contents;
}

bool PosixFiles::write(const std::string& path, const std::string& contents) {
  // Through a sink: a reader never sees half a file.
  PosixFileSink sink(native_path(path), root_);
  return sink.open() && sink.write(contents.data(), contents.size()) && sink.commit();
}

bool PosixFiles::write_durably(const std::string& path, const std::string& contents) {
  PosixFileSink sink(native_path(path), root_);
  sink.set_durable();
  return sink.open() && sink.write(contents.data(), contents.size()) && sink.commit();
}

std::optional<std::uint64_t> PosixFiles::free_space(const std::string& folder) const {
  struct statvfs st {};
  if (::statvfs(native_path(folder).c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

Files::Kind PosixFiles::kind(const std::string& path) const {
  struct stat st {};
  if (::lstat(native_path(path).c_str(), &st) != 0) return Kind::missing;
  if (S_ISLNK(st.st_mode)) return Kind::symlink;
  if (S_ISDIR(st.st_mode)) return Kind::directory;
  if (S_ISREG(st.st_mode)) return Kind::file;
  return Kind::other;
}

// Every change below goes through the folder opened by open_parent_folder:
// a link planted inside the application directory is never followed out of it.
bool PosixFiles::remove_file(const std::string& path) {
  const auto parent = open_parent_folder(root_, native_path(path));
  if (!parent) return errno == ENOENT;
  return ::unlinkat(parent->folder.get(), parent->name.c_str(), 0) == 0 || errno == ENOENT;
}

bool PosixFiles::create_directory(const std::string& path) {
  std::string native = native_path(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  const auto parent = open_parent_folder(root_, native);
  if (!parent) return false;
  const int folder = parent->folder.get();
  if (::mkdirat(folder, parent->name.c_str(), 0755) == 0) return true;
  struct stat st {};
  return errno == EEXIST &&
         ::fstatat(folder, parent->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISDIR(st.st_mode);
}

bool PosixFiles::move(const std::string& from, const std::string& to) {
  const auto source = open_parent_folder(root_, native_path(from));
  const auto target = open_parent_folder(root_, native_path(to));
  return source && target &&
         ::renameat(source->folder.get(), source->name.c_str(), target->folder.get(),
                    target->name.c_str()) == 0;
}

std::optional<std::vector<Files::Entry>> PosixFiles::read_folder(const std::string& path) const {
  std::vector<Entry> entries;
  const std::string folder = native_path(path);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  // readdir answers nothing both at the end and on an error; errno tells.
  errno = 0;
  while (const dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") entries.push_back({name, kind(folder + "/" + name)});
    errno = 0;
  }
  const bool complete = errno == 0;
  ::closedir(dir);
  if (!complete) return std::nullopt;
  return entries;
}

std::string current_directory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return {};
  return buffer;
}

std::string executable_path() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string executable_directory() {
  const std::string path = executable_path();
  return path.substr(0, path.rfind('/'));
}

}  // namespace tarvel
