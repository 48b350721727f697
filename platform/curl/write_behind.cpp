#include "platform/curl/write_behind.hpp"

#include <algorithm>
#include <utility>

namespace tarvel {
namespace {

// Bodies up to this size wait in memory and go to their file whole; a batch
// holds at most one per running transfer.
constexpr std::size_t kBuffered = 64 * 1024;
// A larger body goes to the writer in pieces of this size.
constexpr std::size_t kPiece = 256 * 1024;
// The most bytes of all the batch's bodies waiting for the writer: enough to
// ride out a slow moment of the disk, small beside what a download costs.
constexpr std::size_t kMostQueued = 4 * 1024 * 1024;
// Piece buffers kept for reuse: a fresh one costs a mapping and its page faults.
constexpr std::size_t kSpareBuffers = kMostQueued / kPiece + 2;

}  // namespace

BufferedFileSink::BufferedFileSink(std::string target, std::string root, std::string address,
                                   WriteBehind& writer, std::shared_ptr<BodyCheck> check)
    : file_(std::move(target), std::move(root), std::move(address)),
      writer_(writer),
      check_(std::move(check)) {}

BufferedFileSink::~BufferedFileSink() { writer_.wait_until_idle(*this); }

ResumePoint BufferedFileSink::resume_point() {
  writer_.wait_until_idle(*this);
  return file_.resume_point();
}

bool BufferedFileSink::open(std::uint64_t offset, const std::string& validator) {
  writer_.restart(*this);
  buffer_.clear();
  validator_ = validator;
  streaming_ = false;
  // What continues a part on disk goes there as it comes.
  return offset == 0 || start_streaming(offset);
}

bool BufferedFileSink::start_streaming(std::uint64_t offset) {
  streaming_ = true;
  offset_ = offset;
  // What is held so far starts the first piece.
  std::string piece = writer_.spare_buffer();
  piece.append(buffer_);
  buffer_.swap(piece);
  return writer_.queue(*this, WriteBehind::Job::Kind::open);
}

bool BufferedFileSink::write(const char* data, std::size_t size) {
  if (!streaming_) {
    if (buffer_.size() + size <= kBuffered) {
      buffer_.append(data, size);
      return true;
    }
    if (!start_streaming(0)) return false;
  }
  while (size > 0) {
    const std::size_t part = std::min(kPiece - buffer_.size(), size);
    buffer_.append(data, part);
    data += part;
    size -= part;
    if (buffer_.size() == kPiece) {
      if (!pass_piece()) return false;
      buffer_ = writer_.spare_buffer();
    }
  }
  return true;
}

bool BufferedFileSink::pass_piece() {
  return writer_.queue(*this, WriteBehind::Job::Kind::piece, std::exchange(buffer_, {}));
}

bool BufferedFileSink::commit() {
  if (!streaming_ && !start_streaming(0)) return false;
  if (!buffer_.empty() && !pass_piece()) return false;
  return writer_.queue(*this, WriteBehind::Job::Kind::finish);
}

void BufferedFileSink::interrupt() {
  // What arrived goes to the part, for the next attempt to continue.
  if (streaming_ && !buffer_.empty()) (void)pass_piece();
  writer_.wait_until_idle(*this);
  buffer_ = std::string();
  file_.interrupt();
}

void BufferedFileSink::abandon() {
  writer_.drop_pieces_of(*this);
  buffer_ = std::string();
  file_.abandon();
}

BatchSink::Settled BufferedFileSink::settled() { return writer_.settled(*this); }

bool BufferedFileSink::open_file() {
  // The file feeds the check, a kept part read back first.
  file_.set_check(check_);
  return file_.open(offset_, validator_);
}

bool BufferedFileSink::write_piece(const std::string& piece) {
  return file_.write(piece.data(), piece.size());
}

BatchSink::Settled BufferedFileSink::finish_file(bool failed) {
  if (failed) {
    file_.abandon();
    return Settled::failed;
  }
  if (!file_.body_matches()) {
    file_.abandon();
    return Settled::not_expected;
  }
  return file_.commit() ? Settled::in_place : Settled::failed;
}

WriteBehind::WriteBehind(std::function<void()> wake) : wake_(std::move(wake)) {}

WriteBehind::~WriteBehind() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool WriteBehind::queue(BufferedFileSink& sink, Job::Kind kind, std::string piece) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] {
    return sink.failed_ || queued_bytes_ == 0 || queued_bytes_ + piece.size() <= kMostQueued;
  });
  if (sink.failed_) return false;
  queued_bytes_ += piece.size();
  ++sink.jobs_;
  jobs_.push_back({kind, &sink, std::move(piece)});
  if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
  changed_.notify_all();
  return true;
}

void WriteBehind::wait_until_idle(BufferedFileSink& sink) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return sink.jobs_ == 0; });
}

void WriteBehind::restart(BufferedFileSink& sink) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return sink.jobs_ == 0; });
  sink.failed_ = false;
  sink.dropping_ = false;
  sink.settled_ = BatchSink::Settled::pending;
}

void WriteBehind::drop_pieces_of(BufferedFileSink& sink) {
  std::unique_lock lock(mutex_);
  sink.dropping_ = true;
  changed_.wait(lock, [&] { return sink.jobs_ == 0; });
}

BatchSink::Settled WriteBehind::settled(const BufferedFileSink& sink) {
  std::lock_guard lock(mutex_);
  return sink.settled_;
}

std::string WriteBehind::spare_buffer() {
  std::string buffer;
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  buffer.reserve(kPiece);
  return buffer;
}

void WriteBehind::drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return jobs_.empty() && !working_; });
}

void WriteBehind::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    BufferedFileSink& sink = *job.sink;
    const bool skip = sink.failed_ || sink.dropping_;
    working_ = true;
    lock.unlock();
    const Result result = run(job, skip);
    lock.lock();
    if (!result.ok) sink.failed_ = true;
    if (job.kind == Job::Kind::finish) sink.settled_ = result.settled;
    queued_bytes_ -= job.piece.size();
    if (job.piece.capacity() >= kPiece && spare_.size() < kSpareBuffers) {
      job.piece.clear();
      spare_.push_back(std::move(job.piece));
    }
    // From here on the sink may go: its owner waits for no more than this.
    --sink.jobs_;
    working_ = false;
    changed_.notify_all();
    if (job.kind == Job::Kind::finish) {
      lock.unlock();
      wake_();
      lock.lock();
    }
  }
}

WriteBehind::Result WriteBehind::run(Job& job, bool skip) {
  BufferedFileSink& sink = *job.sink;
  switch (job.kind) {
    case Job::Kind::open:
      return {skip || sink.open_file(), BatchSink::Settled::pending};
    case Job::Kind::piece:
      return {skip || sink.write_piece(job.piece), BatchSink::Settled::pending};
    case Job::Kind::finish:
      return {true, sink.finish_file(skip)};
  }
  return {false, BatchSink::Settled::failed};
}

}  // namespace tarvel
