#include "platform/posix/posix_file_sink.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/leftover_names.hpp"

namespace tarvel {
namespace {

// Below this size a body costs about as much to fetch again as to continue,
// so a part of it is never kept for later.
constexpr std::uint64_t kWorthResuming = 64 * 1024;
// Longer than any address and version name a note holds.
constexpr std::size_t kNoteLimit = 16 * 1024;
// A file is read back for its check in pieces of this size: small enough
// to stay in the processor's cache between the copy and the hash, which
// makes reading back from the page cache several times cheaper than with
// larger pieces.
constexpr std::uint64_t kReadBackPiece = 64 * 1024;

std::string hidden(const std::string& name, std::string_view suffix) {
  return "." + name + std::string(suffix);
}

struct Note {
  bool present = false;  // something lies under the note's name
  ResumeNote text;
};

// Anything but a plain file under a name of the sink's own (a folder, a
// link, a FIFO that would hold a reader forever) is a leftover: it goes.
void clear_odd_entry(int folder, const std::string& name) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
    (void)remove_entry_at(folder, name);
  }
}

// Reads a resume note. A link under that name is never followed, and
// nothing there may block the read.
Note read_note(int folder, const std::string& name) {
  Note note;
  clear_odd_entry(folder, name);
  const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    note.present = errno != ENOENT;
    return note;
  }
  note.present = true;
  std::string text(kNoteLimit, '\0');
  const ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  note.text = parse_resume_note(text);
  return note;
}

bool write_note(int folder, const std::string& name, const std::string& text) {
  const int fd =
      ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

// Removes a leftover unless a transfer holds its lock.
void remove_if_idle(int folder, const std::string& name) {
  const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A link under a leftover's name: the link itself goes, never its target.
    if (errno == ELOOP) ::unlinkat(folder, name.c_str(), 0);
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(folder, name.c_str(), 0);
  ::close(fd);
}

}  // namespace

ResumeNote parse_resume_note(std::string_view text) {
  const auto first = text.find('\n');
  const auto second = first == std::string_view::npos ? first : text.find('\n', first + 1);
  if (second == std::string_view::npos) return {};
  return {std::string(text.substr(0, first)),
          std::string(text.substr(first + 1, second - first - 1))};
}

PosixFileSink::PosixFileSink(std::string target, std::string root, std::string address)
    : target_(std::move(target)), root_(std::move(root)), address_(std::move(address)) {}

PosixFileSink::~PosixFileSink() {
  if (fd_ >= 0 || resumable_) interrupt();
}

bool PosixFileSink::reach_folder() {
  if (folder_.valid()) return true;
  auto parent = open_parent_folder(root_, target_);
  if (!parent) return failed();
  folder_ = std::move(parent->folder);
  name_ = std::move(parent->name);
  partial_ = hidden(name_, kPartialSuffix);
  resume_note_ = hidden(name_, kResumeSuffix);
  return true;
}

ResumePoint PosixFileSink::resume_point() {
  resumable_ = false;
  if (address_.empty() || !reach_folder()) return {};
  const Note note = read_note(folder_.get(), resume_note_);
  note_on_disk_ = note.present;
  if (note.text.address != address_ || note.text.validator.empty()) return {};
  struct stat st {};
  if (::fstatat(folder_.get(), partial_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode) || st.st_size <= 0) {
    return {};
  }
  resumable_ = true;
  size_ = static_cast<std::uint64_t>(st.st_size);
  validator_ = note.text.validator;
  return {size_, validator_};
}

bool PosixFileSink::open(std::uint64_t offset, const std::string& validator) {
  if (offset > 0 && (!resumable_ || offset > size_)) return false;
  if (fd_ < 0 && !open_partial()) return false;
  // Cut only what is there to cut: on most file systems a truncation costs
  // more than the rest of a small file's writing together.
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || (static_cast<std::uint64_t>(st.st_size) != offset &&
                                 ::ftruncate(fd_, static_cast<off_t>(offset)) != 0)) {
    failed();
    close_partial();
    return false;
  }
  // The check sees the whole file: a kept part is read back into it first.
  std::vector<char> buffer;
  if (check_) check_->restart();
  if (check_ && offset > 0 && !read_back(0, offset, *check_, buffer)) {
    close_partial();
    return false;
  }
  size_ = offset;
  validator_ = validator;
  // A body that starts over is a new one (a 200 answer to a range request
  // as well): the old note no longer tells its version, and a new note is
  // written once this body is worth continuing.
  if (offset == 0) {
    forget_resume_note();
    resumable_ = false;
  }
  return true;
}

bool PosixFileSink::read_back(std::uint64_t from, std::uint64_t to, BodyCheck& check,
                              std::vector<char>& buffer) const {
  if (from < to && buffer.size() < kReadBackPiece) buffer.resize(kReadBackPiece);
  for (std::uint64_t at = from; at < to;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - at));
    const ssize_t n = ::pread(fd_, buffer.data(), want, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    check.add(buffer.data(), static_cast<std::size_t>(n));
    at += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool PosixFileSink::open_partial() {
  if (!reach_folder()) return false;
  clear_odd_entry(folder_.get(), partial_);
  // Never through a link: the partial file is ours or nothing. Close-on-exec,
  // so a program started meanwhile does not hold the file open. Made with
  // the mode the file keeps once renamed (as the user's umask allows).
  fd_ = ::openat(folder_.get(), partial_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd_ < 0) return failed();
  // Another transfer writes this very file: leave it be.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    failed();
    close_partial();
    return false;
  }
  return true;
}

bool PosixFileSink::write(const char* data, std::size_t size) {
  if (fd_ < 0) return false;
  if (check_) check_->add(data, size);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(size_));
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed();
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    size_ += static_cast<std::uint64_t>(n);
  }
  if (!resumable_ && !note_on_disk_ && size_ >= kWorthResuming) note_for_resume();
  return true;
}

void PosixFileSink::note_for_resume() {
  if (address_.empty() || validator_.empty()) return;
  note_on_disk_ = true;
  resumable_ = write_note(folder_.get(), resume_note_, address_ + "\n" + validator_ + "\n");
}

bool PosixFileSink::commit() {
  if (fd_ < 0) return false;
  // Renamed while still open and locked, so that no sweep takes the file
  // between its last byte and its new name.
  if ((durable_ && ::fsync(fd_) != 0) ||
      ::renameat(folder_.get(), partial_.c_str(), folder_.get(), name_.c_str()) != 0) {
    failed();
    abandon();
    return false;
  }
  const bool closed = ::close(fd_) == 0 || failed();
  fd_ = -1;
  resumable_ = false;
  forget_resume_note();
  // The file system refused the last of the data: what carries the name is not the body.
  if (!closed) ::unlinkat(folder_.get(), name_.c_str(), 0);
  // The new name is an entry of the folder: on the disk once the folder is.
  return closed && (!durable_ || ::fsync(folder_.get()) == 0 || failed());
}

bool PosixFileSink::failed() {
  error_number_ = errno;
  return false;
}

FailureCause PosixFileSink::failure() const {
  return {.kind = FailureCause::Kind::local_file, .error_number = error_number_, .path = target_};
}

bool PosixFileSink::body_matches() { return !check_ || check_->matches(); }

void PosixFileSink::interrupt() {
  close_partial();
  if (resumable_ && size_ > 0) return;
  abandon();
}

void PosixFileSink::abandon() {
  close_partial();
  if (folder_.valid()) ::unlinkat(folder_.get(), partial_.c_str(), 0);
  forget_resume_note();
  resumable_ = false;
  size_ = 0;
}

void PosixFileSink::forget_resume_note() {
  if (!note_on_disk_) return;
  ::unlinkat(folder_.get(), resume_note_.c_str(), 0);
  note_on_disk_ = false;
}

void PosixFileSink::close_partial() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void remove_stray_partials(const std::string& root, const std::string& target) {
  const auto parent = open_parent_folder(root, target);
  if (!parent) return;
  const int folder = parent->folder.get();
  const int listing = ::dup(folder);
  DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
  if (dir == nullptr) {
    if (listing >= 0) ::close(listing);
    return;
  }
  std::vector<std::string> notes;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!is_leftover_name(name)) continue;
    if (name.ends_with(kResumeSuffix)) {
      notes.push_back(name);
    } else {
      remove_if_idle(folder, name);
    }
  }
  ::closedir(dir);
  // A note stays only beside the partial file it describes.
  for (const std::string& note : notes) {
    const std::string partial =
        note.substr(0, note.size() - kResumeSuffix.size()) + std::string(kPartialSuffix);
    struct stat st {};
    if (::fstatat(folder, partial.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
      ::unlinkat(folder, note.c_str(), 0);
    }
  }
}

}  // namespace tarvel
