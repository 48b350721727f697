#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_get.hpp"
#include "platform/posix/folder_beneath.hpp"

namespace tarvel {

// Streams a body into a partial file beside the target and renames it over
// the target on commit, so the target is either the whole new file or
// untouched. The partial file has a name of its own that follows from the
// target's (".<name>.tarvel-part"), so a later attempt, or the next run after
// a crash, finds it again. A body large enough to be worth continuing also
// gets a note beside it (".<name>.tarvel-resume": the address and the version
// it came as), which is what lets the next run ask only for the rest.
// While a sink writes, it holds a lock on its partial file, so a sweep of
// leftovers never removes a file still being written. Given the application
// directory as root, it never reaches the target's folder through a symbolic
// link below that directory, and never follows one in the folder itself.
class PosixFileSink final : public HttpSink {
 public:
  // target: absolute path in the system's own form; root: the folder the
  // target lies beneath ("" when there is none to keep to); address: where
  // the body comes from (without one, no part is ever kept for later).
  explicit PosixFileSink(std::string target, std::string root = {}, std::string address = {});
  // An uncommitted sink that goes away is interrupted: a part worth
  // continuing stays for the next run, anything else is removed.
  ~PosixFileSink() override;
  PosixFileSink(const PosixFileSink&) = delete;
  PosixFileSink& operator=(const PosixFileSink&) = delete;

  [[nodiscard]] ResumePoint resume_point() override;
  [[nodiscard]] bool open(std::uint64_t offset, const std::string& validator) override;
  // A new file from the first byte.
  [[nodiscard]] bool open() { return open(0, {}); }
  [[nodiscard]] bool write(const char* data, std::size_t size) override;
  [[nodiscard]] bool commit() override;
  [[nodiscard]] bool body_matches() override;
  void interrupt() override;
  void abandon() override;
  // The target, and the error number of the last call that failed.
  [[nodiscard]] FailureCause failure() const override;

  [[nodiscard]] bool is_open() const { return fd_ >= 0; }
  // Bytes of the body in the partial file so far.
  [[nodiscard]] std::uint64_t size() const { return size_; }

  // Feeds bytes [from, to) of the partial file to check, reading them back
  // through buffer. Safe from another thread while this one writes further
  // on: it reads only what was written, and nothing else of the sink.
  [[nodiscard]] bool read_back(std::uint64_t from, std::uint64_t to, BodyCheck& check,
                               std::vector<char>& buffer) const;

  // Checks the body as it is written. A body that continues a part kept
  // from an earlier attempt has that part read back into the check first,
  // so the check always sees the whole file.
  void set_check(std::shared_ptr<BodyCheck> check) { check_ = std::move(check); }

  // The commit returns only once the body and its name are on the disk
  // itself, not just in the system's cache: for the few files whose loss
  // in a power cut would cost more than the wait (an install's journal).
  void set_durable() { durable_ = true; }

 private:
  bool reach_folder();
  bool open_partial();
  void note_for_resume();
  void forget_resume_note();
  void close_partial();
  // Keeps errno for failure(); always false.
  bool failed();

  std::string target_;
  std::string root_;
  std::string address_;
  UniqueFd folder_;  // the target's folder, reached as open_parent_folder does
  std::string name_;
  std::string partial_;      // name within folder_
  std::string resume_note_;  // name within folder_
  std::string validator_;
  std::shared_ptr<BodyCheck> check_;
  std::uint64_t size_ = 0;
  int fd_ = -1;
  int error_number_ = 0;
  bool note_on_disk_ = false;  // a resume note (ours or an older one) may lie beside the target
  bool resumable_ = false;     // the partial file on disk is this body's, and the note says so
  bool durable_ = false;
};

// What a resume note says: the address its part came from (first line) and
// the version the server named (second line); both "" when it says nothing.
struct ResumeNote {
  std::string address;
  std::string validator;
};
[[nodiscard]] ResumeNote parse_resume_note(std::string_view text);

// Removes what interrupted downloads left in the folder that holds target
// (partial files, their resume notes, and the temporaries of older
// launchers: platform/leftover_names.hpp), except files that a transfer is
// writing right now. root and target as for PosixFileSink.
void remove_stray_partials(const std::string& root, const std::string& target);

}  // namespace tarvel
