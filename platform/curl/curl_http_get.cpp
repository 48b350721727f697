#include "platform/curl/curl_http_get.hpp"

#include <unordered_set>

#include "platform/curl/coded_file_sink.hpp"
#include "platform/curl/curl_batch.hpp"
#include "platform/curl/curl_setup.hpp"
#include "platform/posix/posix_file_sink.hpp"

namespace tarvel {
namespace {

// Lends a caller's sink to a batch, which owns the sinks it runs.
class LentSink final : public BatchSink {
 public:
  explicit LentSink(HttpSink& sink) : sink_(sink) {}
  [[nodiscard]] ResumePoint resume_point() override { return sink_.resume_point(); }
  [[nodiscard]] bool open(std::uint64_t offset, const std::string& validator) override {
    return sink_.open(offset, validator);
  }
  [[nodiscard]] bool write(const char* data, std::size_t size) override {
    return sink_.write(data, size);
  }
  [[nodiscard]] bool commit() override { return sink_.commit(); }
  [[nodiscard]] bool body_matches() override { return sink_.body_matches(); }
  void interrupt() override { sink_.interrupt(); }
  void abandon() override { sink_.abandon(); }
  [[nodiscard]] FailureCause failure() const override { return sink_.failure(); }

 private:
  HttpSink& sink_;
};

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// What interrupted runs left beside the targets is either used by now or of
// no use any more.
void sweep_folders_of(const std::vector<FileTransfer>& files, const std::string& root) {
  std::unordered_set<std::string> folders;
  for (const FileTransfer& file : files) {
    if (folders.insert(folder_of(file.target)).second) remove_stray_partials(root, file.target);
  }
}

// Coded sources serve only where a check tells the file they decode to.
CurlBatch::Item batch_item(const FileTransfer& file) {
  CurlBatch::Item item{file.address, file.target};
  if (!file.check) return item;
  for (const CodedSource& coded : file.coded) item.first_choices.push_back(coded.address);
  return item;
}

}  // namespace

CurlHttpGet::CurlHttpGet(std::string ca_file, TransferPolicy policy)
    : settings_{std::move(ca_file), policy, rate_cap_.get(), mirrors_.get()} {
  ensure_curl_initialised();
}

HttpResult CurlHttpGet::get(const std::string& address, const HttpGetOptions& options,
                            HttpSink& sink) {
  HttpResult result;
  rate_cap_->set_rate(options.max_receive_rate);
  const std::vector<CurlBatch::Item> items{{address, {}}};
  CurlBatch batch(settings_, options, 1);
  const auto lend = [&](std::size_t, std::size_t, const std::string&, WriteBehind&) {
    return std::make_unique<LentSink>(sink);
  };
  const auto keep = [&](std::size_t, const HttpResult& ended) {
    result = ended;
    return true;
  };
  // Stopped before the end, the result stays a failed transfer.
  (void)batch.run(items, lend, keep);
  return result;
}

HttpResult CurlHttpGet::get_file(const std::string& address, const HttpGetOptions& options,
                                 const std::string& target) {
  PosixFileSink sink(target, options.confined_to, address);
  return get(address, options, sink);
}

bool CurlHttpGet::get_files(const std::vector<FileTransfer>& files, const HttpGetOptions& options,
                            int max_connections, BatchObserver& observer) {
  std::vector<CurlBatch::Item> items;
  items.reserve(files.size());
  for (const FileTransfer& file : files) items.push_back(batch_item(file));
  rate_cap_->set_rate(options.max_receive_rate);
  CurlBatch batch(settings_, options, max_connections);
  const auto sink_for = [&](std::size_t index, std::size_t choice, const std::string& address,
                            WriteBehind& writer) -> std::unique_ptr<BatchSink> {
    const FileTransfer& file = files[index];
    if (choice < file.coded.size()) {
      const CodedSource& coded = file.coded[choice];
      return std::make_unique<CodedFileSink>(file.target, options.confined_to, address, writer,
                                             coded.check, file.check, coded.base);
    }
    return std::make_unique<BufferedFileSink>(file.target, options.confined_to, address, writer,
                                              file.check);
  };
  const auto finished = [&](std::size_t index, const HttpResult& result) {
    return observer.finished(index, result);
  };
  if (!batch.run(items, sink_for, finished)) return false;
  sweep_folders_of(files, options.confined_to);
  return true;
}

void CurlHttpGet::close_idle_connections() { CurlBatch::close_thread_connections(); }

}  // namespace tarvel
