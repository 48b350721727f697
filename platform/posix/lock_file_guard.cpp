#include "platform/posix/lock_file_guard.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tarvel {
namespace {

// A name becomes one file name: anything that could leave the directory or
// confuse a shell is replaced.
std::string lock_file_name(const std::string& name) {
  std::string file = name;
  for (char& c : file) {
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  }
  if (file.empty() || file == "." || file == "..") file = "_" + file;
  return file + ".lock";
}

// The directory exists (made if need be), is a real directory and is the
// user's own: a folder someone else made in a shared place could hold the
// lock for them.
bool private_directory(const std::string& directory) {
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return ::lstat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

}  // namespace

LockFileInstanceGuard::LockFileInstanceGuard(std::string directory)
    : directory_(std::move(directory)) {}

LockFileInstanceGuard::~LockFileInstanceGuard() {
  if (fd_ >= 0) ::close(fd_);
}

std::string LockFileInstanceGuard::user_runtime_directory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return runtime;
  return "/tmp/tarvel-" + std::to_string(::getuid());
}

InstanceGuard::Claim LockFileInstanceGuard::claim(const std::string& name) {
  if (fd_ >= 0) return Claim::claimed;
  if (!private_directory(directory_)) return Claim::failed;
  const std::string path = directory_ + "/" + lock_file_name(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Claim::failed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? Claim::already_running : Claim::failed;
  }
  fd_ = fd;
  return Claim::claimed;
}

}  // namespace tarvel
