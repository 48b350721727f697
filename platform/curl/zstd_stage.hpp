#pragma once

#include <zstd.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace tarvel {

// Turns zstd frames into the bytes they stand for, piece by piece. A patch
// is a frame made with the file it applies to (its base) as dictionary:
// give the base's bytes and the frame decodes against them.
class ZstdDecoder {
 public:
  // Receives decoded bytes; false stops the decoding.
  using Out = std::function<bool(const char* data, std::size_t size)>;

  explicit ZstdDecoder(std::string base = {});
  ZstdDecoder(const ZstdDecoder&) = delete;
  ZstdDecoder& operator=(const ZstdDecoder&) = delete;

  // False when the bytes are not zstd, or out refused what they gave.
  [[nodiscard]] bool add(const char* data, std::size_t size, const Out& out);
  // After the last piece: whether the input ended at the end of a frame.
  [[nodiscard]] bool finished() const { return ok_ && at_frame_end_; }

 private:
  struct Free {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
  };
  std::unique_ptr<ZSTD_DCtx, Free> context_;
  std::string base_;
  std::string out_;
  bool ok_ = false;
  bool at_frame_end_ = true;
};

}  // namespace tarvel
