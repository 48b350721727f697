#include "platform/curl/write_behind.hpp"

#include <utility>

namespace tarvel {
namespace {

// Bodies up to this size wait in memory for the writer; a batch holds at
// most one per running transfer.
constexpr std::size_t kBuffered = 64 * 1024;
// The writer is told of a larger body's progress in steps of this size:
// woken for every piece that arrives, it would spend more on waking than on
// hashing, and the bytes behind are still in the page cache, or closer.
constexpr std::uint64_t kHashStep = 4 * 1024 * 1024;

}  // namespace

BufferedFileSink::BufferedFileSink(std::string target, std::string root, std::string address,
                                   WriteBehind& writer, std::shared_ptr<BodyCheck> check)
    : file_(std::move(target), std::move(root), std::move(address)),
      writer_(writer),
      check_(std::move(check)) {}

BufferedFileSink::~BufferedFileSink() { writer_.wait_until_idle(*this, true); }

ResumePoint BufferedFileSink::resume_point() {
  writer_.wait_until_idle(*this);
  return file_.resume_point();
}

bool BufferedFileSink::open(std::uint64_t offset, const std::string& validator) {
  // The writer is done with this sink: its check and file are this
  // thread's until the body goes on.
  writer_.restart(*this);
  if (check_) check_->restart();
  hashed_ = 0;
  told_ = 0;
  file_.set_check(nullptr);
  buffer_.clear();
  validator_ = validator;
  streaming_ = false;
  // What continues a part on disk goes there as it comes.
  return offset == 0 || start_streaming(offset);
}

bool BufferedFileSink::start_streaming(std::uint64_t offset) {
  streaming_ = true;
  const std::string held = std::exchange(buffer_, {});
  return file_.open(offset, validator_) && pass_to_file(held.data(), held.size());
}

// Written here, hashed by the writer as it reads the file back: a kept
// part is hashed first, then what follows.
bool BufferedFileSink::pass_to_file(const char* data, std::size_t size) {
  if (size > 0 && !file_.write(data, size)) return false;
  return !check_ || file_.size() - told_ < kHashStep || tell_writer();
}

bool BufferedFileSink::tell_writer() {
  told_ = file_.size();
  return writer_.hash_up_to(*this, told_);
}

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
  if (streaming_ && check_ && !tell_writer()) return false;
  writer_.queue(*this, streaming_ ? WriteBehind::Job::Kind::file : WriteBehind::Job::Kind::held_body);
  return true;
}

void BufferedFileSink::interrupt() {
  writer_.wait_until_idle(*this, true);
  buffer_ = std::string();
  file_.interrupt();
}

void BufferedFileSink::abandon() {
  writer_.wait_until_idle(*this, true);
  buffer_ = std::string();
  file_.abandon();
}

BatchSink::Settled BufferedFileSink::settled() { return writer_.settled(*this); }

bool BufferedFileSink::hash_file_up_to(std::uint64_t end) {
  if (!file_.read_back(hashed_, end, *check_, read_buffer_)) return false;
  hashed_ = end;
  return true;
}

BatchSink::Settled BufferedFileSink::put_held_body_in_place() {
  // The file hashes the body as it writes it.
  file_.set_check(check_);
  const bool written = file_.open(0, validator_) && file_.write(buffer_.data(), buffer_.size());
  buffer_ = std::string();
  return put_in_place(written);
}

BatchSink::Settled BufferedFileSink::put_file_in_place(bool written, std::uint64_t end) {
  return put_in_place(written && (!check_ || hash_file_up_to(end)));
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

WriteBehind::WriteBehind(std::function<void()> wake) : wake_(std::move(wake)) {}

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

bool WriteBehind::hash_up_to(BufferedFileSink& sink, std::uint64_t end) {
  std::lock_guard lock(mutex_);
  if (sink.failed_) return false;
  sink.on_disk_ = end;
  // One hashing job a sink at a time: it goes on until it has caught up.
  if (!sink.hashing_) {
    sink.hashing_ = true;
    push(sink, Job::Kind::hash);
  }
  return true;
}

void WriteBehind::wait_until_idle(BufferedFileSink& sink, bool stop) {
  std::unique_lock lock(mutex_);
  if (stop) sink.stopping_ = true;
  changed_.wait(lock, [&] { return sink.jobs_ == 0; });
}

void WriteBehind::restart(BufferedFileSink& sink) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return sink.jobs_ == 0; });
  sink.on_disk_ = 0;
  sink.hashing_ = false;
  sink.failed_ = false;
  sink.stopping_ = false;
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
    if (job.kind == Job::Kind::hash) {
      hash(*job.sink);
    } else {
      settle(job);
    }
    lock.lock();
    // From here on the sink may go: its owner waits for no more than this.
    --job.sink->jobs_;
    working_ = false;
    changed_.notify_all();
    if (job.kind != Job::Kind::hash) {
      lock.unlock();
      wake_();
      lock.lock();
    }
  }
}

// Hashes until it has caught up with what the file holds.
void WriteBehind::hash(BufferedFileSink& sink) {
  std::unique_lock lock(mutex_);
  while (!sink.stopping_ && !sink.failed_ && sink.hashed_ < sink.on_disk_) {
    const std::uint64_t end = sink.on_disk_;
    lock.unlock();
    const bool read = sink.hash_file_up_to(end);
    lock.lock();
    if (!read) sink.failed_ = true;
  }
  sink.hashing_ = false;
}

void WriteBehind::settle(const Job& job) {
  BufferedFileSink& sink = *job.sink;
  bool failed = false;
  std::uint64_t end = 0;
  {
    std::lock_guard lock(mutex_);
    failed = sink.failed_;
    end = sink.on_disk_;
  }
  const BatchSink::Settled settled = job.kind == Job::Kind::held_body
                                         ? sink.put_held_body_in_place()
                                         : sink.put_file_in_place(!failed, end);
  std::lock_guard lock(mutex_);
  sink.settled_ = settled;
}

}  // namespace tarvel
