#include "platform/curl/zstd_stage.hpp"

namespace tarvel {
namespace {

// The window a compressed copy may ask for (zstd's own default limit); a
// patch may reach back over its whole base, which the decoder holds anyway.
constexpr int kCopyWindowLog = 27;
constexpr int kPatchWindowLog = 31;

}  // namespace

ZstdDecoder::ZstdDecoder(std::string base)
    : context_(ZSTD_createDCtx()), base_(std::move(base)), out_(ZSTD_DStreamOutSize(), '\0') {
  ok_ = context_ != nullptr;
  const int window = base_.empty() ? kCopyWindowLog : kPatchWindowLog;
  ok_ = ok_ && !ZSTD_isError(ZSTD_DCtx_setParameter(context_.get(), ZSTD_d_windowLogMax, window));
  if (ok_ && !base_.empty()) {
    ok_ = !ZSTD_isError(ZSTD_DCtx_refPrefix(context_.get(), base_.data(), base_.size()));
  }
}

bool ZstdDecoder::add(const char* data, std::size_t size, const Out& out) {
  ZSTD_inBuffer in{data, size, 0};
  while (ok_ && (in.pos < in.size || !at_frame_end_)) {
    ZSTD_outBuffer piece{out_.data(), out_.size(), 0};
    const std::size_t left = ZSTD_decompressStream(context_.get(), &piece, &in);
    if (ZSTD_isError(left)) ok_ = false;
    if (ok_ && piece.pos > 0) ok_ = out(out_.data(), piece.pos);
    at_frame_end_ = left == 0;
    // A patch's base serves one frame only; what follows it is not a patch.
    if (at_frame_end_ && !base_.empty() && in.pos < in.size) ok_ = false;
    // Nothing more comes out until more goes in.
    if (piece.pos < piece.size && in.pos == in.size) break;
  }
  return ok_;
}

}  // namespace tarvel
