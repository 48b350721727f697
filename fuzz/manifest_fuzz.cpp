// Manifest readers and entry handling on any text: no crash, and every entry
// that is accepted stays inside the application directory, on disk as well.
#include <filesystem>

#include "fuzz/fuzz_app.hpp"
#include "update/manifest.hpp"

namespace {

using namespace tarvel;

void require_inside(const std::string& root, const ManifestEntry& entry) {
  std::string local = entry_transfer(entry, "", "", "", "").local_path;
  for (char& c : local) {
    if (c == '\\') c = '/';
    if (static_cast<unsigned char>(c) < 0x20) std::abort();
  }
  const auto path = (std::filesystem::path(root) / local).lexically_normal().string();
  if (!path.starts_with(root + "/")) {
    std::fprintf(stderr, "entry leaves the application directory: %s\n", path.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzzing::text_of(data, size);
  fuzzing::Sandbox& box = fuzzing::sandbox();
  (void)last_label(text, "$version");
  (void)version_type_of(text);
  (void)count_entry_lines(text);
  // The first line stands for the installed version of a delta.
  const std::string installed(text.substr(0, text.find('\n')));
  (void)box.app.files().write("m.xml", std::string(text));
  for (int delta = 0; delta < 2; ++delta) {
    EntryList entries;
    const bool read = delta == 0 ? read_full_entries(box.app, "m.xml", entries)
                                 : read_delta_entries(box.app, "m.xml", installed, entries);
    if (!read && !entries.empty()) std::abort();
    for (const ManifestEntry& entry : entries) require_inside(box.root, entry);
  }
  box.check_and_reset();
  return 0;
}
