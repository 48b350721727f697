#include "platform/posix/posix_file_sink.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>

namespace tarvel {
namespace {

constexpr const char* kTempPrefix = ".tarvel-part-";
constexpr int kTempAttempts = 100;

// A name no other sink uses at the same moment; O_EXCL settles a collision.
std::string temp_name() {
  static std::atomic<unsigned> counter{0};
  static const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::string name = kTempPrefix;
  unsigned value = random() ^ counter.fetch_add(1);
  for (int i = 0; i < 6; ++i, value /= letters.size()) name += letters[value % letters.size()];
  return name;
}

}  // namespace

PosixFileSink::PosixFileSink(std::string target, std::string root)
    : target_(std::move(target)), root_(std::move(root)) {}

PosixFileSink::~PosixFileSink() { abandon(); }

bool PosixFileSink::open() {
  abandon();
  auto parent = open_parent_folder(root_, target_);
  if (!parent) return false;
  folder_ = std::move(parent->folder);
  name_ = std::move(parent->name);
  // A name of our own beside the target: the rename stays within one file
  // system, and a crash leaves a stray temporary file, never a broken target.
  // Close-on-exec, so a program started meanwhile does not hold the file open.
  for (int attempt = 0; attempt < kTempAttempts && fd_ < 0; ++attempt) {
    temp_ = temp_name();
    fd_ = ::openat(folder_.get(), temp_.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) temp_.clear();
  return fd_ >= 0;
}

bool PosixFileSink::write(const char* data, std::size_t size) {
  if (fd_ < 0) return false;
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool PosixFileSink::commit() {
  if (fd_ < 0) return false;
  const bool mode_set = ::fchmod(fd_, 0644) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (!mode_set || !closed ||
      ::renameat(folder_.get(), temp_.c_str(), folder_.get(), name_.c_str()) != 0) {
    abandon();
    return false;
  }
  temp_.clear();
  return true;
}

void PosixFileSink::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlinkat(folder_.get(), temp_.c_str(), 0);
  temp_.clear();
}

}  // namespace tarvel
