#include "platform/posix/posix_log_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace tarvel {
namespace {

constexpr const char* kStateFolder = "tarvel";
constexpr const char* kLogSuffix = ".log";
constexpr std::size_t kLongestNamePart = 40;
// More older files than a support person ever asks for.
constexpr int kMostFiles = 10;

std::string system_words(int error_number) {
  std::string words = std::strerror(error_number);
  if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
  return words;
}

// Every folder on the way, each made readable by its owner only, as the
// state folder of a user is.
bool make_folders(const std::string& folder, std::string& error) {
  for (std::size_t at = 0; at != std::string::npos;) {
    at = folder.find('/', at + 1);
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = part + ": " + system_words(errno);
      return false;
    }
  }
  return true;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string numbered(const std::string& path, int number) {
  return number == 0 ? path : path + "." + std::to_string(number);
}

// "2024-05-01T12:00:00.123+0200": the player's local time, with its offset
// so that a support person can match it with the server's logs.
std::string time_stamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now.time_since_epoch()).count() % 1000;
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char date[32];
  char zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%s.%03d%s", date, static_cast<int>(millis), zone);
  return stamp;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// FNV-1a: stable from build to build, unlike std::hash.
std::uint32_t name_hash(const std::string& text) {
  std::uint32_t hash = 2166136261u;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

std::string name_part(std::string directory) {
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  std::string name = directory.substr(directory.find_last_of('/') + 1);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
  }
  if (name.size() > kLongestNamePart) name.resize(kLongestNamePart);
  return name.empty() || name.front() == '.' ? "client" + name : name;
}

}  // namespace

PosixLogFile::PosixLogFile(std::string path, std::string program, Limits limits)
    : path_(std::move(path)),
      program_(std::move(program) + "[" + std::to_string(::getpid()) + "]"),
      limits_(limits) {
  if (limits_.files < 1) limits_.files = 1;
  if (limits_.files > kMostFiles) limits_.files = kMostFiles;
  if (make_folders(folder_of(path_), error_)) (void)open_file();
}

PosixLogFile::~PosixLogFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool PosixLogFile::open_file() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) error_ = path_ + ": " + system_words(errno);
  return fd_ >= 0;
}

void PosixLogFile::keep_to_size(std::size_t adding) {
  struct stat ours {};
  struct stat named {};
  // Another program turned the log over: what this one holds is an older file now.
  if (::fstat(fd_, &ours) != 0 || ::stat(path_.c_str(), &named) != 0 || !same_file(ours, named)) {
    if (!open_file()) return;
    ::flock(fd_, LOCK_EX);
    if (::fstat(fd_, &ours) != 0) return;
  }
  const auto size = static_cast<std::uint64_t>(ours.st_size);
  if (size == 0 || size + adding <= limits_.bytes) return;
  for (int n = limits_.files - 1; n >= 1; --n) {
    (void)::rename(numbered(path_, n - 1).c_str(), numbered(path_, n).c_str());
  }
  // A single file: the old lines go.
  if (limits_.files == 1) (void)::unlink(path_.c_str());
  if (open_file()) ::flock(fd_, LOCK_EX);
}

void PosixLogFile::append(std::string_view line) {
  std::string text = time_stamp() + " " + program_ + " ";
  text.append(line).append("\n");
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_EX);
  keep_to_size(text.size());
  if (fd_ < 0) return;
  // One write a line, so that lines of two programs never mix.
  (void)!::write(fd_, text.data(), text.size());
  ::flock(fd_, LOCK_UN);
}

std::string support_log_path(const std::string& application_directory) {
  std::string state;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  // The variable counts only when it is an absolute path.
  if (xdg != nullptr && xdg[0] == '/') {
    state = xdg;
  } else if (home != nullptr && home[0] == '/') {
    state = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  char hash[9];
  std::snprintf(hash, sizeof hash, "%08x", name_hash(application_directory));
  return state + "/" + kStateFolder + "/" + name_part(application_directory) + "-" + hash +
         kLogSuffix;
}

std::vector<std::string> support_log_files(const std::string& path) {
  std::vector<std::string> files;
  for (int n = 0; n < kMostFiles; ++n) {
    struct stat st {};
    if (::stat(numbered(path, n).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      files.push_back(numbered(path, n));
    }
  }
  return files;
}

}  // namespace tarvel
