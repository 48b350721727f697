#include "platform/curl/coded_file_sink.hpp"

#include <fstream>

#include "platform/curl/zstd_stage.hpp"

namespace tarvel {
namespace {

// A coded body starts a part on disk (worth continuing) once it outgrows this.
constexpr std::size_t kHeld = 1024 * 1024;
// A base larger than this is not read into memory for a patch.
constexpr std::uintmax_t kLargestBase = 512ULL * 1024 * 1024;
constexpr const char* kPartName = ".tarvel-coded";

std::optional<std::string> read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const auto size = static_cast<std::uintmax_t>(in.tellg());
  if (size > kLargestBase) return std::nullopt;
  std::string bytes(size, '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  if (!in) return std::nullopt;
  return bytes;
}

}  // namespace

// Sees every byte of the coded body, kept part included: checks it against
// its own sum and decodes it into the file.
class DecodingCheck final : public BodyCheck {
 public:
  DecodingCheck(std::shared_ptr<BodyCheck> coded, BatchSink& file, std::string base)
      : coded_(std::move(coded)), file_(file), base_path_(std::move(base)) {}

  void restart() override {
    if (coded_) coded_->restart();
    decoder_.reset();
    std::string base;
    broken_ = !file_.open(0, {});
    if (!base_path_.empty()) {
      // A base gone since the plan: the patch cannot serve.
      auto read = read_whole(base_path_);
      broken_ = broken_ || !read;
      if (read) base = std::move(*read);
    }
    decoder_ = std::make_unique<ZstdDecoder>(std::move(base));
  }
  void add(const char* data, std::size_t size) override {
    if (coded_) coded_->add(data, size);
    if (broken_ || !decoder_) return;
    broken_ = !decoder_->add(data, size, [this](const char* out, std::size_t n) {
      return file_.write(out, n);
    });
  }
  bool matches() override {
    const bool coded_matches = !coded_ || coded_->matches();
    return coded_matches && !broken_ && decoder_ && decoder_->finished();
  }

 private:
  std::shared_ptr<BodyCheck> coded_;
  BatchSink& file_;
  std::string base_path_;
  std::unique_ptr<ZstdDecoder> decoder_;
  bool broken_ = true;
};

CodedFileSink::CodedFileSink(const std::string& target, const std::string& root,
                             std::string address, WriteBehind& writer,
                             std::shared_ptr<BodyCheck> coded_check,
                             std::shared_ptr<BodyCheck> file_check, std::string base)
    // The decoded file is never continued: the coded part is.
      : file_(target, root, {}, writer, std::move(file_check)),
      // Only its partial file and resume note are ever made, with leftovers' names.
      part_(target + kPartName, root, std::move(address)),
      decoding_(std::make_shared<DecodingCheck>(std::move(coded_check), file_, std::move(base))) {}

CodedFileSink::~CodedFileSink() = default;

bool CodedFileSink::open(std::uint64_t offset, const std::string& validator) {
  held_.clear();
  validator_ = validator;
  not_the_file_ = false;
  on_disk_ = offset > 0;
  if (!on_disk_) {
    decoding_->restart();
    return true;
  }
  // The part kept is read back into the decoder before the rest arrives.
  part_.set_check(decoding_);
  return part_.open(offset, validator);
}

bool CodedFileSink::write(const char* data, std::size_t size) {
  if (on_disk_) return part_.write(data, size);
  decoding_->add(data, size);
  if (held_.size() + size <= kHeld) {
    held_.append(data, size);
    return true;
  }
  return spill() && part_.write(data, size);
}

// Large enough to be worth continuing: the part on disk takes it from here.
// The decoder has seen the bytes held; the part only keeps them.
bool CodedFileSink::spill() {
  on_disk_ = true;
  part_.set_check(nullptr);
  const bool written = part_.open(0, validator_) && part_.write(held_.data(), held_.size());
  held_ = std::string();
  part_.set_check(decoding_);
  return written;
}

bool CodedFileSink::body_matches() {
  const bool matches = decoding_->matches();
  not_the_file_ = !matches;
  return matches;
}

bool CodedFileSink::commit() {
  held_ = std::string();
  part_.abandon();
  return file_.commit();
}

void CodedFileSink::interrupt() {
  held_.clear();
  part_.interrupt();
  file_.abandon();
}

void CodedFileSink::abandon() {
  held_.clear();
  part_.abandon();
  file_.abandon();
}

FailureCause CodedFileSink::failure() const {
  if (not_the_file_) return {.kind = FailureCause::Kind::unexpected_body};
  return file_.failure();
}

}  // namespace tarvel
