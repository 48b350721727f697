#include "platform/curl/write_behind.hpp"

#include <utility>

namespace tarvel {
namespace {

// Bodies up to this size wait in memory for the writer; a batch holds at
// most one per running transfer.
constexpr std::size_t kBuffered = 64 * 1024;
// A checked large body goes to the writer in copies of about this size:
// handed over for every piece that arrives, it would cost more in waking
// the writer than in copying, and a copy this small is still in the
// processor's cache when the writer writes it.
constexpr std::size_t kCopyStep = 1024 * 1024;
// Written copies kept for the sinks to fill again: while the writer keeps
// up, two or three are in use at a time.
constexpr std::size_t kSpares = 4;

}  // namespace

BufferedFileSink::BufferedFileSink(std::string target, std::string root, std::string address,
                                   WriteBehind& writer, std::shared_ptr<BodyCheck> check)
    : file_(std::move(target), std::move(root), std::move(address)),
      writer_(writer),
      check_(std::move(check)) {}

// Waits for the writer, and lets go of what it still held for this sink.
BufferedFileSink::~BufferedFileSink() { writer_.restart(*this); }

ResumePoint BufferedFileSink::resume_point() {
  writer_.wait_until_idle(*this);
  return file_.resume_point();
}

bool BufferedFileSink::open(std::uint64_t offset, const std::string& validator) {
  // The writer is done with this sink: its check and file are this
  // thread's until the body goes on.
  writer_.restart(*this);
  if (check_) check_->restart();
  file_.set_check(nullptr);
  buffer_.clear();
  copy_.clear();
  validator_ = validator;
  streaming_ = false;
  // What continues a part on disk goes there as it comes.
  return offset == 0 || start_streaming(offset);
}

bool BufferedFileSink::start_streaming(std::uint64_t offset) {
  streaming_ = true;
  const std::string held = std::exchange(buffer_, {});
  if (!file_.open(offset, validator_)) return false;
  // The check sees the kept part first.
  if (check_ && offset > 0 && !file_.read_back(0, offset, *check_, read_buffer_)) return false;
  return pass_to_file(held.data(), held.size());
}

// An unchecked body is written here. A checked one goes to the writer in
// copies, handed over in order.
bool BufferedFileSink::pass_to_file(const char* data, std::size_t size) {
  if (!check_) return size == 0 || file_.write(data, size);
  if (copy_.capacity() < kCopyStep) copy_.reserve(kCopyStep + kCopyStep / 2);
  copy_.insert(copy_.end(), data, data + size);
  return copy_.size() < kCopyStep || hand_over();
}

bool BufferedFileSink::hand_over(bool last) { return writer_.hand_over(*this, last); }

bool BufferedFileSink::write(const char* data, std::size_t size) {
  if (streaming_) return pass_to_file(data, size);
  if (buffer_.size() + size <= kBuffered) {
    buffer_.append(data, size);
    return true;
  }
  // Too large to hold: the file takes it from here, what is held first.
  return start_streaming(0) && pass_to_file(data, size);
}

bool BufferedFileSink::commit() {
  if (streaming_ && check_ && !hand_over(true)) return false;
  writer_.queue(*this, streaming_ ? WriteBehind::Job::Kind::file : WriteBehind::Job::Kind::held_body);
  return true;
}

// What arrived is written first, so that a part kept for later holds the
// body up to where it stopped.
void BufferedFileSink::interrupt() {
  if (streaming_ && !copy_.empty()) (void)hand_over(true);
  let_go();
  file_.interrupt();
}

void BufferedFileSink::abandon() {
  let_go();
  file_.abandon();
}

void BufferedFileSink::let_go() {
  writer_.wait_until_idle(*this);
  buffer_ = std::string();
  copy_ = std::vector<char>();
}

BatchSink::Settled BufferedFileSink::settled() { return writer_.settled(*this); }

FailureCause BufferedFileSink::failure() const {
  writer_.wait_until_idle(*this);
  return file_.failure();
}

BatchSink::Settled BufferedFileSink::put_held_body_in_place() {
  // The file hashes the body as it writes it.
  file_.set_check(check_);
  const bool written = file_.open(0, validator_) && file_.write(buffer_.data(), buffer_.size());
  buffer_ = std::string();
  return put_in_place(written);
}

BatchSink::Settled BufferedFileSink::put_in_place(bool written) {
  if (!written) {
    file_.abandon();
    return Settled::failed;
  }
  if (check_ && !check_->matches()) {
    file_.abandon();
    return Settled::not_expected;
  }
  return file_.commit() ? Settled::in_place : Settled::failed;
}

WriteBehind::WriteBehind(std::function<void()> wake, std::size_t copy_budget)
    : wake_(std::move(wake)), copy_budget_(copy_budget) {}

WriteBehind::~WriteBehind() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void WriteBehind::queue(BufferedFileSink& sink, Job::Kind kind) {
  std::lock_guard lock(mutex_);
  push(sink, kind);
}

void WriteBehind::push(BufferedFileSink& sink, Job::Kind kind) {
  ++sink.jobs_;
  jobs_.push_back({kind, &sink});
  if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
  changed_.notify_all();
}

bool WriteBehind::hand_over(BufferedFileSink& sink, bool last) {
  std::unique_lock lock(mutex_);
  std::vector<char>& copy = sink.copy_;
  // Past the budget the transfer waits for the writer, as it would wait for
  // the disk if it wrote itself; a copy larger than the budget goes alone.
  changed_.wait(lock, [&] {
    return sink.failed_ || copied_ == 0 || copied_ + copy.size() <= copy_budget_;
  });
  if (sink.failed_) return false;
  if (copy.empty()) return true;
  copied_ += copy.size();
  sink.copies_.push_back({std::move(copy)});
  copy = std::vector<char>();
  if (!last && !spares_.empty()) {
    copy = std::move(spares_.back());
    spares_.pop_back();
  }
  // The writer is behind when more than this copy waits to be written:
  // then this thread takes a hash off it.
  if (sink.copies_.size() - sink.to_write_ > 1) (void)hash_next(sink, lock);
  // One job a sink at a time: it goes on until every copy is written and
  // hashed, or the hash is this thread's.
  if (!sink.writing_) {
    sink.writing_ = true;
    push(sink, Job::Kind::write);
  }
  return true;
}

bool WriteBehind::hash_next(BufferedFileSink& sink, std::unique_lock<std::mutex>& lock) {
  if (sink.hashing_ || sink.to_hash_ >= sink.copies_.size()) return false;
  sink.hashing_ = true;
  // Stays where it is: copies go only from the front, once hashed.
  const std::vector<char>& bytes = sink.copies_[sink.to_hash_].bytes;
  lock.unlock();
  sink.check_->add(bytes.data(), bytes.size());
  lock.lock();
  sink.copies_[sink.to_hash_].hashed = true;
  ++sink.to_hash_;
  sink.hashing_ = false;
  release_done(sink);
  changed_.notify_all();
  return true;
}

void WriteBehind::release_done(BufferedFileSink& sink) {
  while (!sink.copies_.empty() && sink.copies_.front().written && sink.copies_.front().hashed) {
    std::vector<char> bytes = std::move(sink.copies_.front().bytes);
    sink.copies_.pop_front();
    --sink.to_write_;
    --sink.to_hash_;
    copied_ -= bytes.size();
    if (spares_.size() < kSpares) {
      bytes.clear();
      spares_.push_back(std::move(bytes));
    }
  }
}

void WriteBehind::drop_copies(BufferedFileSink& sink) {
  for (const BufferedFileSink::Copy& copy : sink.copies_) copied_ -= copy.bytes.size();
  sink.copies_.clear();
  sink.to_write_ = 0;
  sink.to_hash_ = 0;
  changed_.notify_all();
}

void WriteBehind::wait_until_idle(const BufferedFileSink& sink) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return sink.jobs_ == 0; });
}

void WriteBehind::restart(BufferedFileSink& sink) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return sink.jobs_ == 0; });
  drop_copies(sink);
  sink.writing_ = false;
  sink.failed_ = false;
  sink.settled_ = BatchSink::Settled::pending;
}

BatchSink::Settled WriteBehind::settled(const BufferedFileSink& sink) {
  std::lock_guard lock(mutex_);
  return sink.settled_;
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
    const Job job = jobs_.front();
    jobs_.pop_front();
    working_ = true;
    lock.unlock();
    if (job.kind == Job::Kind::write) {
      write(*job.sink);
    } else {
      settle(job);
    }
    lock.lock();
    // From here on the sink may go: its owner waits for no more than this.
    --job.sink->jobs_;
    working_ = false;
    changed_.notify_all();
    if (job.kind != Job::Kind::write) {
      lock.unlock();
      wake_();
      lock.lock();
    }
  }
}

void WriteBehind::write(BufferedFileSink& sink, bool all) {
  std::unique_lock lock(mutex_);
  while (true) {
    if (sink.to_write_ < sink.copies_.size()) {
      const std::vector<char>& bytes = sink.copies_[sink.to_write_].bytes;
      const bool failed = sink.failed_;
      lock.unlock();
      // After a failure the rest is dropped: the attempt is over.
      const bool written = !failed && sink.file_.write(bytes.data(), bytes.size());
      lock.lock();
      if (!written) sink.failed_ = true;
      sink.copies_[sink.to_write_].written = true;
      ++sink.to_write_;
      release_done(sink);
      // A transfer may wait for room.
      changed_.notify_all();
    } else if (hash_next(sink, lock)) {
      continue;  // a copy hashed: there may be another to write by now
    } else if (all && sink.hashing_) {
      changed_.wait(lock, [&] { return !sink.hashing_; });
    } else {
      break;
    }
  }
  sink.writing_ = false;
}

void WriteBehind::settle(const Job& job) {
  BufferedFileSink& sink = *job.sink;
  if (job.kind == Job::Kind::held_body) {
    const BatchSink::Settled settled = sink.put_held_body_in_place();
    std::lock_guard lock(mutex_);
    sink.settled_ = settled;
    return;
  }
  // What was handed over is written and hashed first.
  write(sink, true);
  bool failed = false;
  {
    std::lock_guard lock(mutex_);
    failed = sink.failed_;
  }
  const BatchSink::Settled settled = sink.put_in_place(!failed);
  std::lock_guard lock(mutex_);
  sink.settled_ = settled;
}

}  // namespace tarvel
