// The sums file and the launcher's installed record on any text: no crash, a
// file that is read writes back as itself, and a check of what it vouches
// for answers without fault.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_app.hpp"
#include "update/release_check.hpp"
#include "update/sums.hpp"

namespace {

using namespace tarvel;

void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzzing::text_of(data, size);
  std::string error;
  if (const auto sums = parse_sums(text, error)) {
    std::string again;
    require(parse_sums(sums_text(*sums), again) == sums, "sums do not read back as written");
    const ExpectedRelease expected{sums->package, sums->manifest_sha256, sums->version,
                                   sums->serial, !sums->package.empty()};
    require(!sums_refusal(*sums, expected), "sums refused for the release they describe");
    const EntryList entries{{"a.swf", "", "COMMON/a.swf"}, {"b", "f\\", "x\\b"}};
    require(entries_still_released(*sums, entries).size() <= entries.size(), "entries grew");
  } else {
    require(!error.empty(), "a refusal without a reason");
  }
  (void)read_sum_fields(text);
  if (const auto record = parse_installed_record(text)) {
    const auto again = parse_installed_record(installed_record_text(*record));
    require(again.has_value(), "a record does not read back");
  }
  return 0;
}
