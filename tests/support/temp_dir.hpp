#pragma once

#include <string>
#include <vector>

namespace tarvel::testing {

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }
  // Absolute path of a name inside the folder ("/" separators).
  [[nodiscard]] std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file (creating its folders); aborts the test on failure.
  void write(const std::string& name, const std::string& contents) const;
  // Contents of a file, or "<missing>" when it cannot be read.
  [[nodiscard]] std::string read(const std::string& name) const;
  [[nodiscard]] bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// Names in a folder, hidden temporaries included, sorted.
[[nodiscard]] std::vector<std::string> names_in(const std::string& folder);

// A self-signed certificate for 127.0.0.1 made by openssl in the folder, as
// "cert.pem" with its key "key.pem". False when openssl could not make it.
[[nodiscard]] bool make_loopback_certificate(const TempDir& folder);

}  // namespace tarvel::testing
