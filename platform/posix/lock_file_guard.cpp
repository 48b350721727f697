#include "platform/posix/lock_file_guard.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/user_folders.hpp"

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

// The directory exists (made if need be, with its parent), is a real
// directory and is the user's own: a folder someone else made could hold
// the lock for them. An empty text when it will do, else why not.
std::string private_directory(const std::string& directory) {
  const auto slash = directory.find_last_of('/');
  if (slash != std::string::npos && slash > 0)
    (void)::mkdir(directory.substr(0, slash).c_str(), 0700);
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
  struct stat st {};
  if (::lstat(directory.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "not a folder";
  if (st.st_uid != ::getuid()) return "the folder belongs to another user";
  return {};
}

}  // namespace

LockFileInstanceGuard::LockFileInstanceGuard(std::vector<std::string> directories)
    : directories_(std::move(directories)) {}

LockFileInstanceGuard::~LockFileInstanceGuard() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> LockFileInstanceGuard::user_lock_directories() {
  std::vector<std::string> directories;
  if (std::string runtime = environment_path("XDG_RUNTIME_DIR"); !runtime.empty())
    directories.push_back(std::move(runtime));
  std::string cache = environment_path("XDG_CACHE_HOME");
  if (cache.empty()) {
    const std::string home = home_directory();
    if (!home.empty()) cache = home + "/.cache";
  }
  if (!cache.empty()) directories.push_back(cache + "/tarvel");
  return directories;
}

InstanceGuard::Claim LockFileInstanceGuard::claim(const std::string& name) {
  if (fd_ >= 0) return Claim::claimed;
  failure_.clear();
  for (const std::string& directory : directories_) {
    const Claim claim = claim_in(directory, name);
    if (claim != Claim::failed) {
      failure_.clear();
      return claim;
    }
  }
  if (directories_.empty())
    failure_ = "no folder to keep it in (neither XDG_RUNTIME_DIR nor HOME is set)";
  failure_ = "no single-instance lock could be made: " + failure_;
  return Claim::failed;
}

InstanceGuard::Claim LockFileInstanceGuard::claim_in(const std::string& directory,
                                                     const std::string& name) {
  const auto fail = [&](const std::string& why) {
    failure_ += (failure_.empty() ? "" : "; ") + directory + ": " + why;
    return Claim::failed;
  };
  if (const std::string why = private_directory(directory); !why.empty()) return fail(why);
  const std::string path = directory + "/" + lock_file_name(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return fail(std::strerror(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? Claim::already_running : fail(std::strerror(error));
  }
  fd_ = fd;
  return Claim::claimed;
}

}  // namespace tarvel
