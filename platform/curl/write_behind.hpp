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

// A file sink whose file work and check run on the batch's writer thread:
// the receiving thread only copies each piece of the body, so neither
// hashing nor writing a large body holds up the transfers, and creating a
// small file (which costs more than fetching a few kilobytes over a
// kept-alive connection) neither. A small body waits in memory and goes to
// its file whole; a larger one, or one that continues a part on disk, goes
// in pieces as it arrives. The check sees every byte, a kept part read back
// first, and a body that fails it is never put in place.
class BufferedFileSink final : public BatchSink {
 public:
  // As for PosixFileSink; writer does the file work; check, when given,
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

 private:
  friend class WriteBehind;
  // Sends the body to the file in pieces from here on.
  bool start_streaming(std::uint64_t offset);
  // Hands the full piece to the writer; false once the file failed.
  bool pass_piece();

  // What the writer does for this sink, in order. finish_file() drops a
  // body that failed to be written or is not the one expected.
  [[nodiscard]] bool open_file();
  [[nodiscard]] bool write_piece(const std::string& piece);
  [[nodiscard]] Settled finish_file(bool failed);

  PosixFileSink file_;
  WriteBehind& writer_;
  std::shared_ptr<BodyCheck> check_;
  // Received and not yet handed over: the whole small body, or the piece
  // being filled.
  std::string buffer_;
  std::string validator_;
  std::uint64_t offset_ = 0;
  bool streaming_ = false;

  // Guarded by the writer's lock.
  int jobs_ = 0;            // queued or being done
  bool failed_ = false;     // the file could not be opened or written
  bool dropping_ = false;   // abandoned: pieces still queued are not written
  Settled settled_ = Settled::pending;
};

// One thread per batch that does the file work of its sinks in the order it
// was handed over: opening, checking and writing pieces, putting bodies in
// place. Started with the first piece of work. At most a few megabytes wait
// for it: a body that arrives faster than the disk takes it holds up the
// receiving thread until the writer catches up.
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
    enum class Kind { open, piece, finish } kind;
    BufferedFileSink* sink;
    std::string piece;
  };
  struct Result {
    bool ok;
    BatchSink::Settled settled;
  };

  // False, with nothing queued, when the sink's file already failed.
  bool queue(BufferedFileSink& sink, Job::Kind kind, std::string piece = {});
  void wait_until_idle(BufferedFileSink& sink);
  // Waits until the sink is idle and lets it start a new body.
  void restart(BufferedFileSink& sink);
  void drop_pieces_of(BufferedFileSink& sink);
  [[nodiscard]] BufferedFileSink::Settled settled(const BufferedFileSink& sink);
  // An empty buffer with room for a piece, reused once a piece is written.
  [[nodiscard]] std::string spare_buffer();
  void work();
  // Does one job, outside the lock; skip: the sink's file failed or was dropped.
  [[nodiscard]] static Result run(Job& job, bool skip);

  std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  std::size_t queued_bytes_ = 0;
  std::vector<std::string> spare_;
  bool working_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvel
