#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/http_get.hpp"
#include "platform/posix/posix_file_sink.hpp"

namespace tarvel {

// A sink of a batch, whose commit may end later on another thread.
class BatchSink : public HttpSink {
 public:
  // After a commit() that answered true: nothing while the body is still on
  // its way into place, then whether it got there.
  [[nodiscard]] virtual std::optional<bool> committed() { return true; }
};

class WriteBehind;

// A file sink that holds a small body in memory and has the write-behind
// thread put it in place (partial file, then rename). Creating a file costs
// more than fetching a few kilobytes over a kept-alive connection, so the
// transfers go on while the file system works. A body that outgrows the
// buffer, or continues a part already on disk, is written at once.
class BufferedFileSink final : public BatchSink {
 public:
  // As for PosixFileSink; writer puts the small bodies in place; check, when
  // given, sees every byte of the body.
  BufferedFileSink(std::string target, std::string root, std::string address, WriteBehind& writer,
                   std::shared_ptr<BodyCheck> check = nullptr);

  [[nodiscard]] ResumePoint resume_point() override { return file_.resume_point(); }
  [[nodiscard]] bool open(std::uint64_t offset, const std::string& validator) override;
  [[nodiscard]] bool write(const char* data, std::size_t size) override;
  [[nodiscard]] bool commit() override;
  [[nodiscard]] bool body_matches() override;
  void interrupt() override;
  void abandon() override;
  [[nodiscard]] std::optional<bool> committed() override;
  [[nodiscard]] FailureCause failure() const override { return file_.failure(); }

 private:
  friend class WriteBehind;
  // Creates the file with the buffered body; on the write-behind thread, or
  // at once when that one is not taking more.
  bool write_now();

  PosixFileSink file_;
  WriteBehind& writer_;
  // Fed here while the body is held in memory; the file feeds it once the
  // body goes to disk directly.
  std::shared_ptr<BodyCheck> check_;
  std::string buffer_;
  std::string validator_;
  bool direct_ = false;
  // Guarded by the writer's lock while the body is queued.
  enum class Write { none, queued, done, failed } state_ = Write::none;
};

// One thread that puts buffered bodies in place, in the order they were
// handed over. Started with the first body.
class WriteBehind {
 public:
  // wake: called after each body is in place (or failed), from the thread.
  explicit WriteBehind(std::function<void()> wake);
  // Writes what is queued, then ends the thread.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Waits until nothing is queued or being written.
  void drain();

 private:
  friend class BufferedFileSink;
  void queue(BufferedFileSink& sink);
  std::optional<bool> result(const BufferedFileSink& sink);
  void work();

  std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<BufferedFileSink*> queued_;
  bool writing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvel
