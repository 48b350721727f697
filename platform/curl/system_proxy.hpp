#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// How long the system may take to name a proxy (a PAC script to fetch and
// run) before a transfer goes direct.
inline constexpr std::chrono::milliseconds kProxyLookupDeadline{5000};

// The proxy the system's configuration names for an address, in the form
// libcurl takes ("" for a direct line). Asks libproxy, which reads the
// desktop's settings, PAC scripts and WPAD, and the environment (http_proxy,
// https_proxy, no_proxy, upper or lower case), afresh for every address.
// Loopback addresses always go direct: a proxy elsewhere cannot reach this
// machine's own servers. Without an answer within the deadline (a PAC
// script that loops, a PAC server that never answers) the line is direct,
// said once on standard error; a caller whose cancel turns true stops
// waiting at once. Safe to call from any thread.
[[nodiscard]] std::string system_proxy_for(
    const std::string& address, const std::atomic<bool>* cancel = nullptr,
    std::chrono::milliseconds deadline = kProxyLookupDeadline);

// Sets the handle's proxy for the address, overriding what libcurl would
// otherwise take from the environment on its own, and answers it.
std::string use_system_proxy(CURL* curl, const std::string& address,
                             const std::atomic<bool>* cancel = nullptr);

// After an exchange through proxy: whether the proxy refused to carry it
// without credentials (407). proxy_refusal() (curl_cause.hpp) says what the
// player has to mend.
bool proxy_refused_credentials(CURL* curl, const std::string& proxy);

// The parts of the lookup that decide, without the system.

// Whether the address names this machine: 127.0.0.0/8, ::1 or "localhost",
// by its host as libcurl reads the address.
[[nodiscard]] bool is_loopback_address(std::string_view address);

// The first answer of a proxy list that libcurl can use, in its form: ""
// for "direct://", the address itself for an http, https or SOCKS proxy.
// Answers of other kinds are passed by; a list without a usable one is a
// direct line.
[[nodiscard]] std::string first_usable_proxy(const std::vector<std::string>& answers);

// The proxy address without the credentials written in it, for messages.
[[nodiscard]] std::string without_credentials(std::string_view proxy);

}  // namespace tarvel
