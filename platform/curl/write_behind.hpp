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

// A file sink whose small files and whose checked large ones are the batch
// writer's work. A small body waits in memory and the writer puts it in place
// whole (partial file, check, rename): creating a file costs more than
// fetching a few kilobytes over a kept-alive connection, so the transfers go
// on meanwhile. A larger body, or one that continues a part on disk, goes to
// the file as it arrives. When it is checked, the receiving thread hands it
// to the writer in copies, which the writer writes in order; the hash goes
// through the same copies in order, taken by whichever of the two threads
// has room (the receiving thread when the writer falls behind), so that
// checking adds little to either. A kept part is read back into the check
// first. Either way the check sees every byte, and a body that fails it is
// never put in place.
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
  // Once the writer is done with the sink.
  [[nodiscard]] FailureCause failure() const override;

 private:
  friend class WriteBehind;
  // From here on the body goes to the file as it arrives.
  bool start_streaming(std::uint64_t offset);
  bool pass_to_file(const char* data, std::size_t size);
  // Hands what was gathered to the writer; last: nothing follows it in
  // this attempt. False once the file failed.
  bool hand_over(bool last = false);
  // Once the writer is done with this sink, frees what it gathered.
  void let_go();

  // The writer's side.
  [[nodiscard]] Settled put_held_body_in_place();
  // Checks a file written whole and renames it into place, or drops it.
  [[nodiscard]] Settled put_in_place(bool written);

  PosixFileSink file_;
  WriteBehind& writer_;
  std::shared_ptr<BodyCheck> check_;
  std::string buffer_;  // a small body, until it goes to the writer
  std::string validator_;
  bool streaming_ = false;
  std::vector<char> copy_;         // of a checked body, what arrived since the last hand-over
  std::vector<char> read_buffer_;  // for reading a kept part back into the check

  // Guarded by the writer's lock.
  struct Copy {
    std::vector<char> bytes;
    bool written = false;
    bool hashed = false;
  };
  // Handed over, in order; a copy goes once it is written and hashed.
  std::deque<Copy> copies_;
  std::size_t to_write_ = 0;  // the first copy not written yet
  std::size_t to_hash_ = 0;   // the first copy not hashed yet
  bool hashing_ = false;      // one of the threads is hashing a copy
  int jobs_ = 0;              // queued or being done
  bool writing_ = false;      // the writer has a job for the copies
  bool failed_ = false;       // the file could not be written
  Settled settled_ = Settled::pending;
};

// One thread per batch that does its sinks' work in the order it was handed
// over: writing what checked large bodies hand over, putting bodies in place.
// Started with the first piece of work.
class WriteBehind {
 public:
  // How many bytes of copies may wait for the writer at once, across the
  // batch: past it, a transfer handing more over waits.
  static constexpr std::size_t kCopyBudget = 8 * 1024 * 1024;

  // wake: called from the thread after each body is settled.
  explicit WriteBehind(std::function<void()> wake, std::size_t copy_budget = kCopyBudget);
  // Does what is queued, then ends the thread.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Waits until nothing is queued or being done.
  void drain();

 private:
  friend class BufferedFileSink;
  struct Job {
    enum class Kind { write, held_body, file } kind;
    BufferedFileSink* sink;
  };

  void queue(BufferedFileSink& sink, Job::Kind kind);
  void push(BufferedFileSink& sink, Job::Kind kind);  // with the lock held
  // Queues the sink's copy for writing (waiting while the batch's copies
  // are over budget) and, unless it is the last, gives the sink a spare to
  // fill; hashes a copy meanwhile when the writer is behind. False once the
  // sink's file failed.
  [[nodiscard]] bool hand_over(BufferedFileSink& sink, bool last);
  // With the lock held: hashes the sink's next copy unless the other thread
  // is at it; false when there was none to hash.
  bool hash_next(BufferedFileSink& sink, std::unique_lock<std::mutex>& lock);
  // With the lock held: lets go of copies written and hashed.
  void release_done(BufferedFileSink& sink);
  // With the lock held: lets go of every copy, for a new attempt or none.
  void drop_copies(BufferedFileSink& sink);
  // Waits until the writer is done with the sink.
  void wait_until_idle(const BufferedFileSink& sink);
  // Waits as above and lets the sink start a new body.
  void restart(BufferedFileSink& sink);
  [[nodiscard]] BufferedFileSink::Settled settled(const BufferedFileSink& sink);
  void work();
  // Writes the sink's copies, and hashes them while there is nothing to
  // write, until none is left; all: also waits for a hash the other thread
  // is doing, so that the body is written and hashed whole.
  void write(BufferedFileSink& sink, bool all = false);
  void settle(const Job& job);

  std::function<void()> wake_;
  const std::size_t copy_budget_;
  std::size_t copied_ = 0;                 // bytes in copies not yet written and hashed
  std::vector<std::vector<char>> spares_;  // copies done with, for the sinks to fill again
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  bool working_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvel
