#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_get.hpp"
#include "platform/posix/posix_file_sink.hpp"

namespace tarvel {

// A sink of a batch, whose commit may end later on another thread.
class BatchSink : public HttpSink {
 public:
  enum class Settled {
    pending,       // the body is still on its way into place
    in_place,      // the file is whole and in place
    failed,        // the file could not be written
    not_expected,  // the body is not the one expected: dropped, worth asking for again
  };
  // After a commit() that answered true: how the body ended. A sink that
  // checks its body off the receiving thread tells a mismatch here rather
  // than through body_matches().
  [[nodiscard]] virtual Settled settled() { return Settled::in_place; }
};

class WriteBehind;

// A file sink whose check and whose small files are the batch writer's work.
// A small body waits in memory and the writer puts it in place whole (partial
// file, check, rename): creating a file costs more than fetching a few
// kilobytes over a kept-alive connection, so the transfers go on meanwhile.
// A larger body, or one that continues a part on disk, is written as it
// arrives, and the writer hashes what the file holds behind it (a kept part
// first), so that the check costs the receiving thread nothing. Either way
// the check sees every byte, and a body that fails it is never put in place.
class BufferedFileSink final : public BatchSink {
 public:
  // As for PosixFileSink; writer does the work above; check, when given,
  // sees every byte of the body.
  BufferedFileSink(std::string target, std::string root, std::string address, WriteBehind& writer,
                   std::shared_ptr<BodyCheck> check = nullptr);
  // Waits for the writer to be done with this sink.
  ~BufferedFileSink() override;
  BufferedFileSink(const BufferedFileSink&) = delete;
  BufferedFileSink& operator=(const BufferedFileSink&) = delete;

  [[nodiscard]] ResumePoint resume_point() override;
  [[nodiscard]] bool open(std::uint64_t offset, const std::string& validator) override;
  [[nodiscard]] bool write(const char* data, std::size_t size) override;
  // Hands the body to the writer, which checks it and puts it in place;
  // settled() tells the outcome.
  [[nodiscard]] bool commit() override;
  void interrupt() override;
  void abandon() override;
  [[nodiscard]] Settled settled() override;
  [[nodiscard]] FailureCause failure() const override { return file_.failure(); }

 private:
  friend class WriteBehind;
  // From here on the body goes to the file as it arrives.
  bool start_streaming(std::uint64_t offset);
  bool pass_to_file(const char* data, std::size_t size);
  // Lets the writer hash what the file holds; false once the file failed.
  bool tell_writer();

  // The writer's side.
  [[nodiscard]] bool hash_file_up_to(std::uint64_t end);
  [[nodiscard]] Settled put_held_body_in_place();
  [[nodiscard]] Settled put_file_in_place(bool written, std::uint64_t end);
  // Checks a file written whole and renames it into place, or drops it.
  [[nodiscard]] Settled put_in_place(bool written);

  PosixFileSink file_;
  WriteBehind& writer_;
  std::shared_ptr<BodyCheck> check_;
  std::string buffer_;  // a small body, until it goes to the writer
  std::string validator_;
  bool streaming_ = false;
  std::uint64_t told_ = 0;          // of the file's bytes, the writer knows of so many
  std::uint64_t hashed_ = 0;        // by the writer, of the file's bytes
  std::vector<char> read_buffer_;  // the writer's, for reading the file back

  // Guarded by the writer's lock.
  int jobs_ = 0;               // queued or being done
  std::uint64_t on_disk_ = 0;  // of the body, in the file for the writer to hash
  bool hashing_ = false;       // the writer has a hashing job for this sink
  bool failed_ = false;        // the file could not be written or read back
  bool stopping_ = false;      // the attempt is over: no more hashing
  Settled settled_ = Settled::pending;
};

// One thread per batch that does its sinks' work in the order it was handed
// over: hashing what large bodies have written, putting bodies in place.
// Started with the first piece of work.
class WriteBehind {
 public:
  // wake: called from the thread after each body is settled.
  explicit WriteBehind(std::function<void()> wake);
  // Does what is queued, then ends the thread.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Waits until nothing is queued or being done.
  void drain();

 private:
  friend class BufferedFileSink;
  struct Job {
    enum class Kind { hash, held_body, file } kind;
    BufferedFileSink* sink;
  };

  void queue(BufferedFileSink& sink, Job::Kind kind);
  void push(BufferedFileSink& sink, Job::Kind kind);  // with the lock held
  // The file holds the body up to end: the writer hashes up to there. False
  // once the sink's file failed.
  [[nodiscard]] bool hash_up_to(BufferedFileSink& sink, std::uint64_t end);
  // Waits until the writer is done with the sink; stop: hash no further.
  void wait_until_idle(BufferedFileSink& sink, bool stop = false);
  // Waits as above and lets the sink start a new body.
  void restart(BufferedFileSink& sink);
  [[nodiscard]] BufferedFileSink::Settled settled(const BufferedFileSink& sink);
  void work();
  void hash(BufferedFileSink& sink);
  void settle(const Job& job);

  std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  bool working_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvel
