#pragma once

#include <memory>
#include <string>

#include "platform/curl/write_behind.hpp"
#include "platform/http_get.hpp"
#include "platform/posix/posix_file_sink.hpp"

namespace tarvel {

class DecodingCheck;

// A file sink for a body that is not the file itself but its zstd-compressed
// copy, or a patch against the file the player has (the base). The body is
// checked as it arrives (coded_check: the copy's or the patch's own sum) and
// decoded into the target as it arrives, where the result must match
// file_check, or nothing is put in place. A large body is also kept in a
// part of its own beside the target, for resume like any download's: an
// interrupted copy continues where it stopped, the part kept read back
// through the decoder first.
class CodedFileSink final : public BatchSink {
 public:
  // base: for a patch, the file it applies to (system's form).
  CodedFileSink(const std::string& target, const std::string& root, std::string address,
                WriteBehind& writer, std::shared_ptr<BodyCheck> coded_check,
                std::shared_ptr<BodyCheck> file_check, std::string base = {});
  ~CodedFileSink() override;
  CodedFileSink(const CodedFileSink&) = delete;
  CodedFileSink& operator=(const CodedFileSink&) = delete;

  [[nodiscard]] ResumePoint resume_point() override { return part_.resume_point(); }
  [[nodiscard]] bool open(std::uint64_t offset, const std::string& validator) override;
  [[nodiscard]] bool write(const char* data, std::size_t size) override;
  // The body's own sum, and that it decoded to the end of a frame.
  [[nodiscard]] bool body_matches() override;
  [[nodiscard]] bool commit() override;
  void interrupt() override;
  void abandon() override;
  // The decoded file is checked against its sum as it is written, by the
  // batch's writer; a mismatch shows here.
  [[nodiscard]] Settled settled() override { return file_.settled(); }
  [[nodiscard]] FailureCause failure() const override;

 private:
  bool spill();

  BufferedFileSink file_;
  PosixFileSink part_;
  std::shared_ptr<DecodingCheck> decoding_;
  std::string held_;  // the body's first bytes, until it proves large
  std::string validator_;
  bool on_disk_ = false;
  bool not_the_file_ = false;
};

}  // namespace tarvel
