#include "platform/gtk/app_files.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace tarvel {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool ends_with_lower(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() && lower(name.substr(name.size() - suffix.size())) == suffix;
}

std::string real_path(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                             &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

// The names of a relative path, or nothing when one of them is "..".
std::pair<bool, std::vector<std::string>> split_names(std::string_view name) {
  std::vector<std::string> names;
  std::string current;
  const auto flush = [&] {
    if (!current.empty() && current != ".") names.push_back(current);
    const bool up = current == "..";
    current.clear();
    return !up;
  };
  for (const char c : name) {
    if (c == '\0') return {false, {}};
    if (c != '/' && c != '\\') {
      current += c;
    } else if (!flush()) {
      return {false, {}};
    }
  }
  if (!flush()) return {false, {}};
  return {true, names};
}

// The application-directory-relative form of an absolute movie path, if it
// lies in that directory at all.
std::pair<bool, std::string> relative_to(const std::string& directory, std::string_view path) {
  std::string normal(path);
  std::replace(normal.begin(), normal.end(), '\\', '/');
  std::string root = directory;
  std::replace(root.begin(), root.end(), '\\', '/');
  if (root.empty() || root.back() != '/') root += '/';
  if (!normal.starts_with(root)) return {false, {}};
  return {true, normal.substr(root.size())};
}

}  // namespace

InsideFile find_inside(const std::string& root, std::string_view name) {
  const auto [allowed, names] = split_names(name);
  if (!allowed) return {InsideFile::Verdict::outside, {}};
  const std::string real_root = real_path(root);
  if (real_root.empty()) return {InsideFile::Verdict::missing, {}};
  std::string joined = real_root;
  for (const std::string& part : names) joined += "/" + part;
  const std::string real = real_path(joined);
  if (real.empty()) return {InsideFile::Verdict::missing, {}};
  if (real != real_root && !real.starts_with(real_root + "/")) {
    return {InsideFile::Verdict::outside, {}};
  }
  struct stat info {};
  if (stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return {InsideFile::Verdict::missing, {}};
  }
  return {InsideFile::Verdict::found, real};
}

MovieChoice choose_movie(const std::string& application_directory, std::string_view movie_path) {
  const auto [inside, relative] = relative_to(application_directory, movie_path);
  if (!inside) return {};
  const auto found = [&](const std::string& name) {
    return find_inside(application_directory, name).verdict == InsideFile::Verdict::found;
  };
  constexpr std::string_view kFlash = ".swf";
  if (ends_with_lower(relative, kFlash)) {
    const std::string page = relative.substr(0, relative.size() - kFlash.size()) + ".html";
    if (found(page)) return {MovieChoice::Kind::html, page};
    if (found(relative)) return {MovieChoice::Kind::flash, relative};
    return {};
  }
  if (!found(relative)) return {};
  const bool page = ends_with_lower(relative, ".html") || ends_with_lower(relative, ".htm");
  return {page ? MovieChoice::Kind::html : MovieChoice::Kind::flash, relative};
}

std::string content_type_of(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 19> kTypes{{
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".xml", "text/xml"},
      {".txt", "text/plain; charset=utf-8"},
      {".wasm", "application/wasm"},
      {".swf", "application/x-shockwave-flash"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".mp3", "audio/mpeg"},
      {".ogg", "audio/ogg"},
      {".woff2", "font/woff2"},
  }};
  for (const auto& [suffix, type] : kTypes) {
    if (ends_with_lower(name, suffix)) return std::string(type);
  }
  return "application/octet-stream";
}

}  // namespace tarvel
