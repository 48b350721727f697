#include "platform/curl/write_behind.hpp"

namespace tarvel {
namespace {

// Bodies up to this size wait in memory for the write-behind thread; a batch
// holds at most one per running transfer.
constexpr std::size_t kBuffered = 64 * 1024;

}  // namespace

BufferedFileSink::BufferedFileSink(std::string target, std::string root, std::string address,
                                   WriteBehind& writer, std::shared_ptr<BodyCheck> check)
    : file_(std::move(target), std::move(root), std::move(address)),
      writer_(writer),
      check_(std::move(check)) {}

bool BufferedFileSink::open(std::uint64_t offset, const std::string& validator) {
  buffer_.clear();
  validator_ = validator;
  // What continues a part on disk is written beside it at once.
  direct_ = offset > 0;
  if (!direct_) {
    // Checked here as it arrives; the writer thread only puts it in place.
    file_.set_check(nullptr);
    if (check_) check_->restart();
    return true;
  }
  file_.set_check(check_);
  return file_.open(offset, validator);
}

bool BufferedFileSink::write(const char* data, std::size_t size) {
  if (direct_) return file_.write(data, size);
  if (buffer_.size() + size <= kBuffered) {
    if (check_) check_->add(data, size);
    buffer_.append(data, size);
    return true;
  }
  // Too large to hold: the file takes it from here, and checks it from the start.
  direct_ = true;
  file_.set_check(check_);
  const bool written = file_.open(0, validator_) && file_.write(buffer_.data(), buffer_.size()) &&
                       file_.write(data, size);
  buffer_ = std::string();
  return written;
}

bool BufferedFileSink::commit() {
  if (direct_) return file_.commit();
  writer_.queue(*this);
  return true;
}

bool BufferedFileSink::body_matches() {
  if (direct_) return file_.body_matches();
  return !check_ || check_->matches();
}

bool BufferedFileSink::write_now() {
  const bool written =
      file_.open(0, validator_) && file_.write(buffer_.data(), buffer_.size()) && file_.commit();
  if (!written) file_.abandon();
  buffer_ = std::string();
  return written;
}

void BufferedFileSink::interrupt() {
  buffer_.clear();
  file_.interrupt();
}

void BufferedFileSink::abandon() {
  buffer_.clear();
  file_.abandon();
}

std::optional<bool> BufferedFileSink::committed() { return writer_.result(*this); }

WriteBehind::WriteBehind(std::function<void()> wake) : wake_(std::move(wake)) {}

WriteBehind::~WriteBehind() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void WriteBehind::queue(BufferedFileSink& sink) {
  std::lock_guard lock(mutex_);
  sink.state_ = BufferedFileSink::Write::queued;
  queued_.push_back(&sink);
  if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
  changed_.notify_all();
}

std::optional<bool> WriteBehind::result(const BufferedFileSink& sink) {
  std::lock_guard lock(mutex_);
  switch (sink.state_) {
    case BufferedFileSink::Write::queued:
      return std::nullopt;
    case BufferedFileSink::Write::failed:
      return false;
    default:
      return true;
  }
}

void WriteBehind::drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return queued_.empty() && !writing_; });
}

void WriteBehind::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
    if (queued_.empty()) return;
    BufferedFileSink* sink = queued_.front();
    queued_.pop_front();
    writing_ = true;
    lock.unlock();
    const bool written = sink->write_now();
    lock.lock();
    sink->state_ = written ? BufferedFileSink::Write::done : BufferedFileSink::Write::failed;
    writing_ = false;
    changed_.notify_all();
    lock.unlock();
    wake_();
    lock.lock();
  }
}

}  // namespace tarvel
