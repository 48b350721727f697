#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http_get.hpp"

namespace tarvel {

// What one file of a release must be.
struct FileSum {
  std::string sha256;  // 64 lower-case hexadecimal characters
  std::uint64_t size = 0;
  bool operator==(const FileSum&) const = default;
};

// A sums file: published beside a manifest, it names the manifest's own
// SHA-256, the release's version label, a serial that grows with every
// release, and the sum of every file of the package by its source path as
// the manifests write it ("/" between folders). It names the package it
// belongs to (the name of its installation manifest, "setup.xml" for the
// launcher's release), so that one package's signed release cannot pass for
// another's. docs/integrity.md has the format.
// A patch that turns one earlier release of a file (the base) into this
// release's file: published beside the file, it is a zstd frame made with
// the base as its dictionary (zstd's patch-from).
struct PatchSum {
  std::string base_sha256;
  FileSum sum;  // of the patch's own bytes
  bool operator==(const PatchSum&) const = default;
};

struct Sums {
  std::string package;  // "" in sums of the first form, which named none
  std::string manifest_sha256;
  std::string version;
  std::uint64_t serial = 0;
  std::map<std::string, FileSum> files;
  // By the same source paths: the zstd-compressed copy of a file, and the
  // patches against earlier releases of it. Written as lines that older
  // readers take for comments, so sums that carry them still install there.
  std::map<std::string, FileSum> compressed{};
  std::map<std::string, std::vector<PatchSum>> patches{};
  bool operator==(const Sums&) const = default;
};

// Sums files are fetched from the manifest's address with this suffix, and
// their signatures from the sums file's address with the second.
inline constexpr const char* kSumsSuffix = ".sums";
inline constexpr const char* kSignatureSuffix = ".sig";

// A manifest (or the launcher's settings copy) whose sums are published
// holds this line, which every reader of manifests and settings ignores: a
// launcher without an update key asks for sums only then, so a server that
// publishes none sees the same requests as ever.
inline constexpr std::string_view kSumsAnnouncement = "#tarvel-sums";

// Where a file's compressed copy and its patches are published: beside the
// file, at its address with these endings (a patch's names its base by the
// first 16 digits of its SHA-256).
inline constexpr std::string_view kCompressedSuffix = ".zst";
[[nodiscard]] std::string patch_suffix(std::string_view base_sha256);

// Whether the text holds the announcement line.
[[nodiscard]] bool announces_sums(std::string_view text);

// Reads a sums file; nothing, with the reason in error, when any line is
// not of the format (a sums file is all or nothing).
[[nodiscard]] std::optional<Sums> parse_sums(std::string_view text, std::string& error);
[[nodiscard]] std::string sums_text(const Sums& sums);

// "<sha256> <size> <rest>", as a sums line gives a file after "file ": the
// sum and the rest (not empty), or nothing.
[[nodiscard]] std::optional<std::pair<FileSum, std::string>> read_sum_fields(std::string_view text);

// Source paths are keyed with "/" whatever the manifest line wrote.
[[nodiscard]] std::string sums_key(std::string_view source_path);

[[nodiscard]] std::string sha256_hex(std::string_view bytes);

// The sum of a file (path in the system's own form), read in pieces so that
// a large file is never held whole; nothing when it cannot be read.
[[nodiscard]] std::optional<FileSum> file_sum(const std::string& native_path);

// A check that a body is exactly the expected one, for a download. The first
// body that is not says so on standard error, under the file's name.
[[nodiscard]] std::shared_ptr<BodyCheck> body_check(const FileSum& expected,
                                                    const std::string& name);

[[nodiscard]] std::string base64_encode(std::string_view bytes);
// Nothing when the text is not base64 in its padded form: white space around
// it is allowed, "=" only as the last one or two characters.
[[nodiscard]] std::optional<std::string> base64_decode(std::string_view text);

// Ed25519 public keys and signatures travel as base64 of their raw bytes
// (32 and 64). True when signature_text is a valid signature of message by
// the key.
[[nodiscard]] bool signature_valid(std::string_view public_key_base64, std::string_view message,
                                   std::string_view signature_text);
// Whether the text is a usable public key.
[[nodiscard]] bool public_key_valid(std::string_view public_key_base64);

}  // namespace tarvel
