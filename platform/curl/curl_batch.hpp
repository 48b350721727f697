#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/curl/curl_transfer.hpp"
#include "platform/curl/write_behind.hpp"
#include "platform/http_get.hpp"

namespace tarvel {

// Runs many GETs at once on the calling thread's libcurl multi handle, whose
// connections outlive each batch: the next list to the same server skips the
// connection set-up. At most max_connections transfers run to one host;
// items with the same key never run at the same time and start in list
// order. A failure that may pass is first asked of the address's mirrors
// (the options' groups), then tried again after a growing pause, continuing
// what the sink holds; other items go on meanwhile. An item ends
// once its body is in place, which a sink may leave to the batch's writer
// thread; the item keeps its place among its host's transfers until then.
class CurlBatch {
 public:
  struct Item {
    std::string address;
    std::string key;  // "" for an item that shares nothing with the others
    // Other ways to the same body, tried first in this order (choices 0, 1,
    // ...; the address itself is the last choice): one that fails, or
    // whose body is not the one expected, gives way to the next at once.
    std::vector<std::string> first_choices{};
  };
  // Makes the sink of an item for one choice at one address (a mirror's,
  // maybe) when it starts there; it lives until the item ends for good or
  // moves on. Sinks may leave their writing to the batch's writer.
  using SinkFor = std::function<std::unique_ptr<BatchSink>(
      std::size_t index, std::size_t choice, const std::string& address, WriteBehind& writer)>;
  // Hears an item's end for good; false ends the batch (the rest is cancelled).
  using Finished = std::function<bool(std::size_t index, const HttpResult& result)>;

  CurlBatch(const CurlClientSettings& settings, const HttpGetOptions& options, int max_connections);

  // True when every item completed. False when one failed for good and
  // finished() answered false, or when the options' stop flag was set.
  [[nodiscard]] bool run(const std::vector<Item>& items, const SinkFor& sink_for,
                         const Finished& finished);

  // Closes the calling thread's kept-alive connections.
  static void close_thread_connections();

 private:
  const CurlClientSettings& settings_;
  const HttpGetOptions& options_;
  int max_connections_;
};

}  // namespace tarvel
