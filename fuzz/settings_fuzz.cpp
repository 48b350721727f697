// The readers of setup.xml (and url.xml), Config.xml and the language list
// on any text.
#include "core/language_list.hpp"
#include "core/settings_readers.hpp"
#include "fuzz/fuzz_app.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  const std::string text(fuzzing::text_of(data, size));
  fuzzing::Sandbox& box = fuzzing::sandbox();
  App& app = box.app;
  for (const char* name : {kSettingsFileName, kConfigFileName, "app-popup\\abb_language.xml"}) {
    (void)app.files().create_directory("app-popup");
    (void)app.files().write(name, text);
  }
  apply_defaults(app.settings());
  read_settings_file(app);
  (void)read_key_from_file(app, kSettingsFileName, "url");
  (void)read_config_value(app, "Languages");
  (void)read_config_value(app, "ServerURL");
  (void)parse_language_list(text);
  load_default_language(app);
  (void)decimal_prefix(text);
  box.check_and_reset();
  return 0;
}
