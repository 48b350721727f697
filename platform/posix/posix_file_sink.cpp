#include "platform/posix/posix_file_sink.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tarvel {
namespace {

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

PosixFileSink::PosixFileSink(std::string target) : target_(std::move(target)) {}

PosixFileSink::~PosixFileSink() { abandon(); }

bool PosixFileSink::open() {
  abandon();
  // A name of our own beside the target: the rename stays within one file
  // system, and a crash leaves a stray temporary file, never a broken target.
  temp_ = folder_of(target_) + "/.tarvel-part-XXXXXX";
  // Close-on-exec, so a program started meanwhile does not hold the file open.
  fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  return true;
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
  if (!mode_set || !closed || std::rename(temp_.c_str(), target_.c_str()) != 0) {
    abandon();
    return false;
  }
  temp_.clear();
  return true;
}

void PosixFileSink::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace tarvel
