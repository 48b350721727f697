#pragma once

namespace tarvel {

class App;

// Package kind shown in progress lines while the common package installs.
inline constexpr const char* kCommonPackageKind = "common";

// Brings the common package (shared movies, images, language files) to the
// server's version: the whole installation manifest the first time, then only
// what the server's update manifest lists after the installed version. True
// when the package is current; false when a manifest or a listed file could
// not be fetched, a manifest name is refused or a manifest cannot take its
// name, in which case the local manifests are left as they were, so the next
// call picks up the same work again. A false always leaves a failure (401 or
// 402) in the status pair.
[[nodiscard]] bool install_common_package(App& app);

}  // namespace tarvel
