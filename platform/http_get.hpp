#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/failure_cause.hpp"

namespace tarvel {

// Where an earlier attempt at a body left off: its first `bytes` bytes are
// held, as the answer that `validator` names sent them.
struct ResumePoint {
  std::uint64_t bytes = 0;
  // The answer's strong ETag, or else its Last-Modified date; a body without
  // one cannot be continued, since nothing would tell a changed file.
  std::string validator;
};

// Tells whether a body is the one expected (its size and digest), fed with
// its bytes as they arrive. A body that does not match is never put in
// place: the attempt fails like a broken transfer and is tried again.
class BodyCheck {
 public:
  virtual ~BodyCheck() = default;
  // The body starts again from its first byte.
  virtual void restart() = 0;
  virtual void add(const char* data, std::size_t size) = 0;
  // After the last byte: whether what was added is the expected body.
  [[nodiscard]] virtual bool matches() = 0;
};

// Where the body of a response goes. The transfer calls open() once the
// answer's status is known to be wanted, write() for every piece of the body,
// then commit() when the whole body arrived, interrupt() when the attempt
// broke off and may be tried again, or abandon() when the body is not wanted
// any more. A sink that refuses a call (returns false) ends the transfer.
class HttpSink {
 public:
  virtual ~HttpSink() = default;

  // What an earlier attempt (of this run or of an earlier one) left that a
  // range request may continue. Nothing, unless the sink keeps such parts.
  [[nodiscard]] virtual ResumePoint resume_point() { return {}; }

  // The body continues at offset: the sink keeps the first offset bytes it
  // holds and drops the rest, so 0 starts over. validator names the version
  // of the body the answer carries ("" when it names none).
  [[nodiscard]] virtual bool open(std::uint64_t offset, const std::string& validator) = 0;
  [[nodiscard]] virtual bool write(const char* data, std::size_t size) = 0;
  [[nodiscard]] virtual bool commit() = 0;
  // Asked once the whole body arrived, before commit(): false when it is
  // not the body expected, which then counts as a broken transfer. (A sink
  // of a batch may check later, off the receiving thread: see BatchSink.)
  [[nodiscard]] virtual bool body_matches() { return true; }

  // The attempt broke off. A sink may keep what it holds for resume_point();
  // by default it drops it.
  virtual void interrupt() { abandon(); }
  virtual void abandon() = 0;

  // After a call the sink refused: why, as far as it knows.
  [[nodiscard]] virtual FailureCause failure() const {
    return {.kind = FailureCause::Kind::local_file};
  }
};

// Keeps a small document in memory; for manifests and settings copies that
// are read at once.
class StringSink final : public HttpSink {
 public:
  [[nodiscard]] bool open(std::uint64_t offset, const std::string& /*validator*/) override {
    body_.clear();
    return offset == 0;
  }
  [[nodiscard]] bool write(const char* data, std::size_t size) override {
    body_.append(data, size);
    return true;
  }
  [[nodiscard]] bool commit() override { return true; }
  void abandon() override { body_.clear(); }

  [[nodiscard]] const std::string& body() const { return body_; }

 private:
  std::string body_;
};

struct HttpGetOptions {
  // Sent as the User-Agent header; empty sends none.
  std::string user_agent;
  // Longest wait for the connection to be made; 0 leaves the library's default.
  long connect_timeout_ms = 0;
  // Longest wait, once the request is sent, for the first byte of the
  // answer's body (or for an answer without one to end): a server that
  // takes the connection, or answers its headers, and then says nothing
  // fails like a dropped connection. 0 waits as long as the stall rule lets it.
  std::chrono::milliseconds first_byte_limit{15'000};
  // A body under way that stays slower than the client's floor (a trickle,
  // or nothing at all) for this many seconds fails like a dropped
  // connection; 0 waits forever (only for callers that have their own
  // limit). Time a transfer spends held back by the rate cap below does not count.
  long stall_seconds = 60;
  // The longest a file goes without a byte of its body arriving, over all
  // its attempts and the pauses between them: past it the file fails for
  // good, whatever retries remain, so that a dead server never holds the
  // player for long. Waiting for the rate cap does not count; 0 for no limit.
  std::chrono::milliseconds quiet_limit{90'000};
  // The most bytes per second that all the client's transfers together
  // receive, on every thread; 0 for no cap. The client holds the rate the
  // latest call asked for.
  std::uint64_t max_receive_rate = 0;
  // Only these statuses deliver a body to the sink; 0 accepts any 2xx.
  long wanted_status = 0;
  // When set, the transfer gives up as a transfer failure soon after this
  // turns true (within a fraction of a second, however slow the server),
  // and no retry waits: how a program that is ending stops its downloads.
  const std::atomic<bool>* cancel = nullptr;
  // For get_file and get_files: the folder the targets lie beneath (the
  // application directory). No symbolic link below it is followed on the
  // way to a target; "" resolves targets as the system does.
  std::string confined_to;
  // Other addresses of the servers: each group a base address, then mirrors
  // that serve the same paths. A file that fails at one (refused, reset, a
  // 5xx answer, a stall, a body that is not the one expected) is asked of
  // the next before the failure counts; one that failed is passed over for
  // a while. Empty: every address is asked as it is.
  std::vector<std::vector<std::string>> mirrors{};
};

struct HttpResult {
  enum class Outcome {
    complete,  // the wanted status and the whole body, committed by the sink
    status,    // the server answered with a status the caller did not want
    transfer,  // no answer, or the body broke off, was short, or stalled
    sink,      // the sink refused the body (local file not creatable, ...)
  };
  Outcome outcome = Outcome::transfer;
  long status = 0;  // the HTTP status, 0 when none arrived
  // Why it failed, for every outcome but complete.
  FailureCause cause{};

  [[nodiscard]] bool ok() const { return outcome == Outcome::complete; }
};

// A cheaper way to a file than its whole body: its zstd-compressed copy, or
// a patch (a zstd frame made against the file the player has, the base).
struct CodedSource {
  std::string address;
  // What the bytes sent must be (the copy's or the patch's own sum).
  std::shared_ptr<BodyCheck> check;
  // For a patch: the file it applies to, in the system's own form; "" for a
  // compressed copy.
  std::string base{};
  bool operator==(const CodedSource&) const = default;
};

// One file of a batch: where it comes from and where it goes (a path in the
// system's own form, as for get_file).
struct FileTransfer {
  std::string address;
  std::string target;
  // What the body must be to be put in place; none takes any complete body.
  std::shared_ptr<BodyCheck> check = nullptr;
  // Tried first, in order, when there is a check: each one decoded into the
  // target must match it. One that fails or gives another file falls back
  // to the next, and the last to the whole body at address.
  std::vector<CodedSource> coded{};
};

// Hears how each file of a batch ended, on the thread that runs the batch.
class BatchObserver {
 public:
  virtual ~BatchObserver() = default;
  // The file at index is whole and in place, or failed for good (its retries
  // spent). Answering false ends the batch: nothing more starts and the
  // transfers still running are cancelled.
  virtual bool finished(std::size_t index, const HttpResult& result) = 0;
};

// HTTP(S) GETs. A body counts as received only when it is complete: a
// connection that drops early or a body shorter than its announced length is
// a transfer failure, and the sink is then abandoned. A failure that may pass
// (a refused or dropped connection, a stall, a 5xx answer) is retried a few
// times after growing pauses, continuing a partly received body where the
// server allows it; a 4xx answer is final at once. Implementations catch
// their own errors; nothing is thrown.
class HttpGet {
 public:
  virtual ~HttpGet() = default;

  [[nodiscard]] virtual HttpResult get(const std::string& address, const HttpGetOptions& options,
                                       HttpSink& sink) = 0;

  // GET into a file: the body goes to a partial file beside the target that
  // replaces the target only once complete, so the target is never left
  // truncated. target is a path in the system's own form (Files::native_path).
  [[nodiscard]] virtual HttpResult get_file(const std::string& address,
                                            const HttpGetOptions& options,
                                            const std::string& target) = 0;

  // Many get_file()s, up to max_connections at once to each host. Two files
  // with the same target never transfer at the same time: they run in list
  // order. True when every file arrived; partial files that earlier runs left
  // in the targets' folders are then removed too.
  [[nodiscard]] virtual bool get_files(const std::vector<FileTransfer>& files,
                                       const HttpGetOptions& options, int max_connections,
                                       BatchObserver& observer) = 0;
};

}  // namespace tarvel
