#include "operator/zstd_copies.hpp"

#include <zstd.h>

#include <algorithm>
#include <bit>
#include <memory>

namespace tarvel {
namespace {

constexpr int kStrongLevel = 19;
constexpr int kQuickLevel = 3;
// What a launcher's decoder allows a compressed copy ("--long" in the tool's words).
constexpr int kLongWindowLog = 27;
constexpr int kLargestWindowLog = 31;
constexpr int kSmallestWindowLog = 10;

struct ContextFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
using Context = std::unique_ptr<ZSTD_CCtx, ContextFree>;

bool set(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value) {
  return !ZSTD_isError(ZSTD_CCtx_setParameter(context, parameter, value));
}

std::optional<std::string> compress(ZSTD_CCtx* context, std::string_view bytes) {
  std::string out(ZSTD_compressBound(bytes.size()), '\0');
  const std::size_t size =
      ZSTD_compress2(context, out.data(), out.size(), bytes.data(), bytes.size());
  if (ZSTD_isError(size)) return std::nullopt;
  out.resize(size);
  return out;
}

}  // namespace

std::optional<std::string> compressed_copy(std::string_view bytes) {
  const Context context(ZSTD_createCCtx());
  if (!context || !set(context.get(), ZSTD_c_compressionLevel, kStrongLevel) ||
      !set(context.get(), ZSTD_c_windowLog, kLongWindowLog) ||
      !set(context.get(), ZSTD_c_enableLongDistanceMatching, 1)) {
    return std::nullopt;
  }
  return compress(context.get(), bytes);
}

std::optional<std::string> quick_copy(std::string_view bytes) {
  const Context context(ZSTD_createCCtx());
  if (!context || !set(context.get(), ZSTD_c_compressionLevel, kQuickLevel)) return std::nullopt;
  return compress(context.get(), bytes);
}

std::optional<std::string> patch_from(std::string_view base, std::string_view bytes) {
  const Context context(ZSTD_createCCtx());
  // The window reaches back over the whole base from the end of the new file.
  const int window = std::clamp(static_cast<int>(std::bit_width(base.size() + bytes.size())),
                                kSmallestWindowLog, kLargestWindowLog);
  if (!context || !set(context.get(), ZSTD_c_compressionLevel, kStrongLevel) ||
      !set(context.get(), ZSTD_c_windowLog, window) ||
      !set(context.get(), ZSTD_c_enableLongDistanceMatching, 1) ||
      ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), base.data(), base.size()))) {
    return std::nullopt;
  }
  return compress(context.get(), bytes);
}

std::optional<std::string> decompressed(std::string_view copy) {
  const unsigned long long size = ZSTD_getFrameContentSize(copy.data(), copy.size());
  if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN) return std::nullopt;
  std::string out(size, '\0');
  const std::size_t got = ZSTD_decompress(out.data(), out.size(), copy.data(), copy.size());
  if (ZSTD_isError(got) || got != size) return std::nullopt;
  return out;
}

}  // namespace tarvel
