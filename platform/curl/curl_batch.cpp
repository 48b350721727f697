#include "platform/curl/curl_batch.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <list>
#include <optional>
#include <set>
#include <unordered_map>

namespace tarvel {
namespace {

using Clock = std::chrono::steady_clock;

// How long a waiting batch goes without looking at the stop flag.
constexpr auto kStopCheck = std::chrono::milliseconds(100);
// Idle connections kept for the next batch: several per host for the few
// hosts a package draws on.
constexpr long kKeptConnections = 64;
// Easy handles kept for reuse; more are made when needed.
constexpr std::size_t kSpareHandles = 64;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The calling thread's libcurl state, kept between batches.
class ThreadCurl {
 public:
  ThreadCurl() = default;
  ~ThreadCurl() { close(); }
  ThreadCurl(const ThreadCurl&) = delete;
  ThreadCurl& operator=(const ThreadCurl&) = delete;

  CURLM* multi() {
    if (multi_ == nullptr) {
      multi_ = curl_multi_init();
      if (multi_ != nullptr) curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kKeptConnections);
    }
    return multi_;
  }
  CURL* take_easy() {
    if (spare_.empty()) return curl_easy_init();
    CURL* easy = spare_.back();
    spare_.pop_back();
    curl_easy_reset(easy);
    return easy;
  }
  void give_back(CURL* easy) {
    if (spare_.size() < kSpareHandles) {
      spare_.push_back(easy);
    } else {
      curl_easy_cleanup(easy);
    }
  }
  void close() {
    for (CURL* easy : spare_) curl_easy_cleanup(easy);
    spare_.clear();
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    multi_ = nullptr;
  }

 private:
  CURLM* multi_ = nullptr;
  std::vector<CURL*> spare_;
};
thread_local ThreadCurl t_curl;

// "scheme://host:port" of an address: transfers are limited per host.
std::string origin_of(const std::string& address) {
  const auto scheme = address.find("://");
  const auto start = scheme == std::string::npos ? 0 : scheme + 3;
  return address.substr(0, address.find_first_of("/?#", start));
}

// One run of a batch: which items run, wait for a retry or are still to
// start, and how many transfers each host has.
class BatchRun {
 public:
  BatchRun(const CurlClientSettings& settings, const HttpGetOptions& options, int max_connections,
           const std::vector<CurlBatch::Item>& items, const CurlBatch::SinkFor& sink_for,
           const CurlBatch::Finished& finished)
      : settings_(settings),
        options_(options),
        limit_(std::max(1, max_connections)),
        items_(items),
        sink_for_(sink_for),
        finished_(finished),
        not_started_(items.size()),
        next_of_key_(items.size(), kNone) {
    std::unordered_map<std::string, int> hosts;
    host_of_.reserve(items.size());
    for (const CurlBatch::Item& item : items) {
      host_of_.push_back(
          hosts.emplace(origin_of(item.address), static_cast<int>(hosts.size())).first->second);
    }
    host_running_.assign(hosts.size(), 0);
    hosts_with_room_ = hosts.size();
    ready_.resize(hosts.size());
    // Of the items with one key, only the first is ready; each that ends
    // makes the next ready.
    std::unordered_map<std::string, std::size_t> last_of_key;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string& key = items[i].key;
      const auto [last, first_of_key] = last_of_key.try_emplace(key, i);
      if (key.empty() || first_of_key) {
        std::set<std::size_t>& ready = ready_[static_cast<std::size_t>(host_of_[i])];
        ready.insert(ready.end(), i);  // in order: each goes last
      } else {
        next_of_key_[last->second] = i;
        last->second = i;
      }
    }
  }
  ~BatchRun() { cancel_all(); }
  BatchRun(const BatchRun&) = delete;
  BatchRun& operator=(const BatchRun&) = delete;

  bool run();

 private:
  // An item that has started and not yet ended for good.
  struct Active {
    std::size_t index = 0;
    std::unique_ptr<BatchSink> sink;
    std::size_t choice = 0;
    std::vector<std::string> addresses{};  // of this choice, best first; "" before the start
    std::size_t at = 0;                    // the one asked now
    std::unique_ptr<CurlTransfer> transfer;  // while an attempt runs
    int attempts = 0;
    Clock::time_point retry_at{};
    std::optional<HttpResult> arrived;  // the whole body, while the sink puts it in place
    // The last sign of life: the item's start, a piece of its body, or a
    // wait for the rate cap.
    Clock::time_point heard_at{};
  };

  [[nodiscard]] bool stop_requested() const {
    return options_.cancel != nullptr && options_.cancel->load();
  }
  [[nodiscard]] bool host_has_room(std::size_t index) const {
    return host_running_[static_cast<std::size_t>(host_of_[index])] < limit_;
  }
  void start_what_may_run();
  void start_next_items();
  // The first ready item, in list order, whose host has room; kNone if none.
  [[nodiscard]] std::size_t next_to_start() const;
  // Lets transfers held back by the rate cap go on as it can pay for them.
  void let_held_back_go_on();
  [[nodiscard]] std::chrono::milliseconds until_held_back_may_go_on() const;
  void start(Active& active);
  // Moves the running transfers on; true when one of them ended.
  bool drive();
  // Ends the attempts whose answer is overdue and those of files quiet for
  // too long; true when one ended.
  bool end_overdue_attempts();
  void note_heard(Active& active, Clock::time_point now) const;
  [[nodiscard]] bool quiet_too_long(const Active& active, Clock::time_point at) const;
  [[nodiscard]] bool answer_overdue(const CurlTransfer& transfer, Clock::time_point now) const;
  // Ends the items whose bodies are settled; true when one was.
  bool settle_writes();
  void settle(Active& active, BatchSink::Settled how);
  void attempt_ended(Active& active, CURLcode code);
  // Moves on to the next mirror, or else the next choice; false when none is left.
  bool move_on(Active& active, const AttemptEnd& end);
  void begin_choice(Active& active, std::size_t choice);
  void begin_retry_round(Active& active);
  [[nodiscard]] const std::string& address_of(std::size_t index, std::size_t choice) const;
  void try_again_or_end(Active& active, const AttemptEnd& end);
  void end_for_good(Active& active, const HttpResult& result);
  void take_host(std::size_t index, int change);
  void wait();
  void release_attempt(Active& active);
  void cancel_all();

  const CurlClientSettings& settings_;
  const HttpGetOptions& options_;
  const int limit_;
  const std::vector<CurlBatch::Item>& items_;
  const CurlBatch::SinkFor& sink_for_;
  const CurlBatch::Finished& finished_;
  CURLM* multi_ = t_curl.multi();
  WriteBehind writer_{[multi = multi_] { curl_multi_wakeup(multi); }};

  std::vector<int> host_of_;
  std::vector<int> host_running_;
  std::size_t hosts_with_room_ = 0;
  // Items that may start, by host, in list order: those without a key, and
  // of each key the next one once the one before it has ended. A list that
  // names a few targets again and again costs no more per item than one of
  // distinct targets.
  std::vector<std::set<std::size_t>> ready_;
  std::size_t not_started_;
  std::vector<std::size_t> next_of_key_;  // the next item with the same key, or kNone
  std::list<Active> active_;  // a list: libcurl holds pointers to its elements
  std::size_t completed_ = 0;
  bool stopping_ = false;
};

bool BatchRun::run() {
  if (multi_ == nullptr) return false;
  while (!stopping_ && !stop_requested()) {
    start_what_may_run();
    if (active_.empty() && not_started_ == 0) return completed_ == items_.size();
    let_held_back_go_on();
    // A transfer that ended frees its place: fill it before waiting.
    const bool moved = drive();
    const bool overdue = !stopping_ && end_overdue_attempts();
    const bool settled = !stopping_ && settle_writes();
    if (!moved && !overdue && !settled && !stopping_) wait();
  }
  cancel_all();
  return false;
}

void BatchRun::start_what_may_run() {
  // A file waiting for its retry keeps its place among its host's
  // transfers: fetched one at a time, nothing overtakes it.
  const auto now = Clock::now();
  for (Active& active : active_) {
    if (!active.transfer && !active.arrived && active.retry_at <= now) start(active);
  }
  start_next_items();
}

void BatchRun::start_next_items() {
  while (hosts_with_room_ > 0 && !stopping_) {
    const std::size_t i = next_to_start();
    if (i == kNone) return;
    ready_[static_cast<std::size_t>(host_of_[i])].erase(i);
    --not_started_;
    take_host(i, +1);
    active_.emplace_back();
    active_.back().index = i;
    active_.back().heard_at = Clock::now();
    begin_choice(active_.back(), 0);
    start(active_.back());
  }
}

// A batch draws on a few hosts (the package's addresses): one look at each.
std::size_t BatchRun::next_to_start() const {
  std::size_t first = kNone;
  for (std::size_t host = 0; host < ready_.size(); ++host) {
    if (ready_[host].empty() || host_running_[host] >= limit_) continue;
    first = std::min(first, *ready_[host].begin());
  }
  return first;
}

const std::string& BatchRun::address_of(std::size_t index, std::size_t choice) const {
  const CurlBatch::Item& item = items_[index];
  return choice < item.first_choices.size() ? item.first_choices[choice] : item.address;
}

// The choice's addresses in the order the mirrors' record gives, and a sink
// for the first of them.
void BatchRun::begin_choice(Active& active, std::size_t choice) {
  active.choice = choice;
  const std::string& address = address_of(active.index, choice);
  active.addresses = settings_.mirrors == nullptr
                         ? std::vector<std::string>{address}
                         : settings_.mirrors->addresses_for(address, options_.mirrors);
  active.at = 0;
  active.attempts = 0;
  active.sink.reset();  // the one before lets go of its part first
  active.sink = sink_for_(active.index, choice, active.addresses.front(), writer_);
}

bool BatchRun::move_on(Active& active, const AttemptEnd& end) {
  const bool not_the_body = end.result.cause.kind == FailureCause::Kind::unexpected_body;
  const bool mirror_at_fault = worth_retrying(end) || not_the_body;
  if (mirror_at_fault && settings_.mirrors != nullptr) {
    settings_.mirrors->failed(active.addresses[active.at], options_.mirrors);
  }
  if (mirror_at_fault && active.at + 1 < active.addresses.size()) {
    active.heard_at = Clock::now();  // another server: its own quiet window
    ++active.at;
    --active.attempts;  // a mirror's turn is no retry: start() counts it back
    active.sink.reset();
    active.sink = sink_for_(active.index, active.choice, active.addresses[active.at], writer_);
    return true;
  }
  const bool last_choice = active.choice >= items_[active.index].first_choices.size();
  const bool may_retry = worth_retrying(end) && !not_the_body &&
                         active.attempts <= settings_.policy.retries;
  if (last_choice || may_retry) return false;
  active.heard_at = Clock::now();
  begin_choice(active, active.choice + 1);
  return true;
}

void BatchRun::begin_retry_round(Active& active) {
  const int attempts = active.attempts;
  begin_choice(active, active.choice);
  active.attempts = attempts;
}

void BatchRun::start(Active& active) {
  ++active.attempts;
  CURL* easy = t_curl.take_easy();
  if (easy == nullptr || !active.sink) {
    if (easy != nullptr) t_curl.give_back(easy);
    end_for_good(active, {HttpResult::Outcome::transfer, 0,
                          {.kind = FailureCause::Kind::other, .detail = "no transfer handle"}});
    return;
  }
  active.transfer = std::make_unique<CurlTransfer>(easy, active.addresses[active.at], options_,
                                                   settings_, *active.sink);
  curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(&active));
  curl_multi_add_handle(multi_, easy);
}

void BatchRun::take_host(std::size_t index, int change) {
  const bool had_room = host_has_room(index);
  host_running_[static_cast<std::size_t>(host_of_[index])] += change;
  const bool has_room = host_has_room(index);
  if (had_room && !has_room) --hosts_with_room_;
  if (!had_room && has_room) ++hosts_with_room_;
}

// In turn: the one held back longest first, and none overtakes it. Were
// the first in the list always served first, the others could sit idle
// until their servers gave up on them.
void BatchRun::let_held_back_go_on() {
  RateCap* cap = settings_.rate_cap;
  if (cap == nullptr) return;
  std::vector<CurlTransfer*> waiting;
  for (Active& active : active_) {
    if (active.transfer && active.transfer->held_back() > 0)
      waiting.push_back(active.transfer.get());
  }
  std::sort(waiting.begin(), waiting.end(), [](const CurlTransfer* a, const CurlTransfer* b) {
    return a->held_back_since() < b->held_back_since();
  });
  for (CurlTransfer* transfer : waiting) {
    if (cap->wait_for(transfer->held_back()).count() > 0) return;
    transfer->go_on();
  }
}

std::chrono::milliseconds BatchRun::until_held_back_may_go_on() const {
  using std::chrono::milliseconds;
  auto soonest = std::chrono::duration_cast<milliseconds>(kStopCheck);
  RateCap* cap = settings_.rate_cap;
  if (cap == nullptr) return soonest;
  for (const Active& active : active_) {
    const std::size_t piece = active.transfer ? active.transfer->held_back() : 0;
    if (piece == 0) continue;
    // Rounded up, so that the wait does not end just short of the time.
    const auto wait = std::chrono::ceil<milliseconds>(cap->wait_for(piece));
    soonest = std::min(soonest, wait);
  }
  return soonest;
}

bool BatchRun::drive() {
  int running = 0;
  curl_multi_perform(multi_, &running);
  int left = 0;
  bool ended = false;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    const CURLcode code = message->data.result;
    char* owner = nullptr;
    curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
    attempt_ended(*reinterpret_cast<Active*>(owner), code);
    ended = true;
    if (stopping_) break;
  }
  return ended;
}

// Takes the attempt's handle out of the batch and back to the spares.
void BatchRun::release_attempt(Active& active) {
  CURL* easy = active.transfer->easy();
  curl_multi_remove_handle(multi_, easy);
  active.transfer.reset();
  t_curl.give_back(easy);
}

bool BatchRun::end_overdue_attempts() {
  const auto now = Clock::now();
  std::vector<Active*> overdue;
  for (Active& active : active_) {
    if (!active.transfer) continue;
    note_heard(active, now);
    if (quiet_too_long(active, now) || answer_overdue(*active.transfer, now))
      overdue.push_back(&active);
  }
  for (Active* active : overdue) {
    attempt_ended(*active, CURLE_OPERATION_TIMEDOUT);
    if (stopping_) break;
  }
  return !overdue.empty();
}

// A transfer waiting for its share of the rate cap is not a quiet one.
void BatchRun::note_heard(Active& active, Clock::time_point now) const {
  if (active.transfer->held_back() > 0) {
    active.heard_at = now;
    return;
  }
  active.heard_at = std::max(active.heard_at, active.transfer->body_arrived_at());
}

bool BatchRun::quiet_too_long(const Active& active, Clock::time_point at) const {
  return options_.quiet_limit.count() > 0 && at - active.heard_at >= options_.quiet_limit;
}

bool BatchRun::answer_overdue(const CurlTransfer& transfer, Clock::time_point now) const {
  const auto since = transfer.waiting_since();
  return options_.first_byte_limit.count() > 0 && since && now - *since >= options_.first_byte_limit;
}

void BatchRun::attempt_ended(Active& active, CURLcode code) {
  note_heard(active, Clock::now());
  const AttemptEnd end = active.transfer->finish(code);
  release_attempt(active);
  if (end.result.ok()) {
    active.arrived = end.result;
    return;
  }
  try_again_or_end(active, end);
}

// Another mirror or choice first; a retry that would start after the
// file's quiet limit is not made.
void BatchRun::try_again_or_end(Active& active, const AttemptEnd& end) {
  if (!stop_requested() && move_on(active, end)) {
    start(active);
    return;
  }
  const auto retry_at = Clock::now() + pause_before_retry(settings_.policy, active.attempts);
  if (worth_retrying(end) && active.attempts <= settings_.policy.retries && !stop_requested() &&
      !quiet_too_long(active, retry_at)) {
    active.retry_at = retry_at;
    // The retry asks the mirrors again, in the order their record then gives.
    if (active.addresses.size() > 1) begin_retry_round(active);
    return;
  }
  end_for_good(active, end.result);
}

void BatchRun::end_for_good(Active& active, const HttpResult& result) {
  const std::size_t index = active.index;
  const std::size_t next = next_of_key_[index];
  if (next != kNone) ready_[static_cast<std::size_t>(host_of_[next])].insert(next);
  take_host(index, -1);
  active_.remove_if([&](const Active& a) { return &a == &active; });
  if (result.ok()) ++completed_;
  if (!finished_(index, result)) stopping_ = true;
}

bool BatchRun::settle_writes() {
  std::vector<std::pair<Active*, BatchSink::Settled>> settled;
  for (Active& active : active_) {
    if (!active.arrived) continue;
    const BatchSink::Settled how = active.sink->settled();
    if (how != BatchSink::Settled::pending) settled.emplace_back(&active, how);
  }
  for (auto& [active, how] : settled) {
    settle(*active, how);
    if (stopping_) break;
  }
  return !settled.empty();
}

void BatchRun::settle(Active& active, BatchSink::Settled how) {
  using Settled = BatchSink::Settled;
  HttpResult result = *active.arrived;
  active.arrived.reset();
  if (how == Settled::not_expected) {
    // Dropped whole, and asked for again like a broken transfer.
    AttemptEnd end;
    end.result = {HttpResult::Outcome::transfer, result.status,
                  {.kind = FailureCause::Kind::unexpected_body}};
    end.resume_refused = true;
    try_again_or_end(active, end);
    return;
  }
  if (how == Settled::failed) {
    result.outcome = HttpResult::Outcome::sink;
    result.cause = active.sink->failure();
  }
  end_for_good(active, result);
}

void BatchRun::wait() {
  auto timeout = until_held_back_may_go_on();
  const auto now = Clock::now();
  for (const Active& active : active_) {
    if (active.transfer || active.arrived) continue;
    const auto until = std::chrono::duration_cast<std::chrono::milliseconds>(active.retry_at - now);
    timeout = std::clamp(until, std::chrono::milliseconds(0), timeout);
  }
  curl_multi_poll(multi_, nullptr, 0, static_cast<int>(timeout.count()), nullptr);
}

void BatchRun::cancel_all() {
  for (Active& active : active_) {
    if (!active.transfer) continue;
    active.transfer->cancel();
    release_attempt(active);
  }
  // Bodies already whole are put in place; then the sinks go, and a part
  // worth continuing stays for the next run.
  writer_.drain();
  active_.clear();
}

}  // namespace

CurlBatch::CurlBatch(const CurlClientSettings& settings, const HttpGetOptions& options,
                     int max_connections)
    : settings_(settings), options_(options), max_connections_(max_connections) {}

bool CurlBatch::run(const std::vector<Item>& items, const SinkFor& sink_for,
                    const Finished& finished) {
  BatchRun batch(settings_, options_, max_connections_, items, sink_for, finished);
  return batch.run();
}

void CurlBatch::close_thread_connections() { t_curl.close(); }

}  // namespace tarvel
