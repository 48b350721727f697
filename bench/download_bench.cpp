// Times the download engine against the curl command-line tool on the same
// loopback servers, and the manifest scan on large manifests. Prints the ratios
// on its last line:
//   ratio small=<ours/curl> small_par=<ours/curl -Z> lat=<ours/curl, 20 ms>
//   lat_par=<ours/curl -Z, 20 ms> large=<ours/curl> rss_mib=<peak RSS of the downloads>
//   manifest_ms=<ms> resume_bytes=<fetched/size>
//   cap=<rate/cap, 20 MiB in 8 files at once> cap_one=<rate/cap, one 20 MiB file>
//   verify_overhead=<checked large download / unchecked> verify_ms=<verify of 2000 files>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/nginx.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/download.hpp"
#include "update/manifest.hpp"
#include "update/package_install.hpp"
#include "update/release_check.hpp"
#include "update/sums.hpp"
#include "update/verify.hpp"

extern char** environ;

namespace tarvel::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSmallFiles = 2000;
constexpr std::size_t kSmallBytes = 4 * 1024;
constexpr int kSmallFolders = 20;
constexpr int kRounds = 5;
constexpr int kLargeRounds = 3;
// The checked and the unchecked download of the large file, taken in turns.
// Writing 512 MiB into the file system takes either about 570 or about 830 ms
// here, whichever the download, so three rounds' medians swing by half.
constexpr int kVerifyRounds = 7;
// A line with latency: every answer waits this long. curl fetching one file
// after another then takes kSmallFiles times as long, so it runs once.
constexpr auto kLatency = std::chrono::milliseconds(20);
constexpr int kLatencyRounds = 3;
constexpr int kLatencySequentialRounds = 1;
// What curl -Z may run at once: the launcher's default.
constexpr const char* kCurlParallel = "8";
// The rate cap: 20 MiB under 2,000 KiB/s, as one file and as eight at once.
constexpr int kCapKib = 2000;
constexpr std::size_t kCapBytes = 20 * 1024 * 1024;
constexpr int kCapParts = 8;

// Where a comparison fetches from: an address for a path on the server.
using Served = std::function<std::string(const std::string& path)>;

// The most memory the process has held so far.
double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double elapsed_ms(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string padded(int n, int width) {
  std::string text = std::to_string(n);
  return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(text.size()))),
                     '0') +
         text;
}

// Runs a program and waits for it; its time is what the caller measures.
// Its output goes nowhere: curl -Z draws a progress meter whatever it is told.
bool run(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string small_remote(int i) {
  return std::string("small/d") + padded(i % kSmallFolders, 2) + "/f" + padded(i, 4) + ".bin";
}

void make_served_tree(const testing::TempDir& served, std::size_t large_mib) {
  const std::string block(kSmallBytes, 's');
  for (int i = 0; i < kSmallFiles; ++i) served.write(small_remote(i), block);
  std::ofstream large(served / "large.bin", std::ios::binary);
  std::string chunk(1024 * 1024, '\0');
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + 7);
  for (std::size_t mib = 0; mib < large_mib; ++mib)
    large.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

double ours_small(const Served& served) {
  testing::TestApp t;
  std::string manifest = "$version-1.0\n";
  for (int i = 0; i < kSmallFiles; ++i) {
    manifest += small_remote(i) + std::string(",d") + padded(i % kSmallFolders, 2) + "\\\n";
  }
  t.dir.write("small.xml", manifest);
  t.app.settings().set_url(served(""));
  CurlHttpGet::close_idle_connections();
  EntryList entries;
  const auto start = Clock::now();
  const bool ok = install_full_manifest(t.app, entries, "small.xml",
                                        t.app.settings().application_directory(), served(""));
  const double ms = elapsed_ms(start);
  if (!ok || t.dir.read("d07/f1987.bin").size() != kSmallBytes)
    std::cerr << "small install failed\n";
  return ms;
}

// curl -K with the list, one file after another or (parallel) curl -Z with
// as many at once as the launcher runs.
double curl_small(const Served& served, bool parallel) {
  testing::TempDir out;
  std::string config = "silent\nfail\ncreate-dirs\n";
  for (int i = 0; i < kSmallFiles; ++i) {
    std::string name = "d";
    name += padded(i % kSmallFolders, 2);
    name += "/f";
    name += padded(i, 4);
    name += ".bin";
    config += "url = \"" + served(small_remote(i)) + "\"\noutput = \"" + (out / name) + "\"\n";
  }
  out.write("curl.cfg", config);
  // "--noproxy": a proxy named in the environment must not sit between curl
  // and the loopback server, or the two sides would not be timed alike.
  std::vector<std::string> command{"curl", "--noproxy", "*"};
  if (parallel) command.insert(command.end(), {"-Z", "--parallel-max", kCurlParallel});
  command.insert(command.end(), {"-K", out / "curl.cfg"});
  const auto start = Clock::now();
  const bool ok = run(command);
  const double ms = elapsed_ms(start);
  if (!ok || out.read("d07/f1987.bin").size() != kSmallBytes) std::cerr << "curl small failed\n";
  return ms;
}

double ours_large(const testing::Nginx& nginx, std::size_t bytes) {
  testing::TestApp t;
  CurlHttpGet::close_idle_connections();
  const auto start = Clock::now();
  const bool ok = download_file(t.app, nginx.url("large.bin"),
                                t.app.settings().application_directory() + "large.bin");
  const double ms = elapsed_ms(start);
  if (!ok || std::filesystem::file_size(t.dir / "large.bin") != bytes)
    std::cerr << "large download failed\n";
  return ms;
}

double curl_large(const testing::Nginx& nginx, std::size_t bytes) {
  testing::TempDir out;
  const auto start = Clock::now();
  const bool ok =
      run({"curl", "--noproxy", "*", "-s", "-f", "-o", out / "large.bin", nginx.url("large.bin")});
  const double ms = elapsed_ms(start);
  if (!ok || std::filesystem::file_size(out / "large.bin") != bytes)
    std::cerr << "curl large failed\n";
  return ms;
}

// A cumulative update manifest: a version header every 1000 lines, entries
// spread over 100 folders. Written line by line, so the benchmark's own
// data does not swell the peak RSS it reports.
void write_big_manifest(const std::string& path, int lines) {
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < lines; ++i) {
    if (i % 1000 == 0) {
      out << "$version-1." << padded(i / 1000, 6) << "\n";
    } else {
      const std::string folder = padded(i % 100, 3);
      out << "GAMES/slot/d" << folder << "/f" << i << ".swf,games\\slot\\d" << folder << "\\\n";
    }
  }
}

struct Scan {
  double first_ms;  // into an empty application directory: the folders are made
  double ms;        // over the installed tree, as an update finds it
  double cpu_ms;    // the processor time of that second scan: on a busy machine the wait
                    // for a processor swells ms, not this
};

double thread_cpu_ms() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// What an update's plan reads of its manifest: the count of its entry lines
// and every entry after the middle version, checked (no downloads).
Scan manifest_scan(int lines) {
  testing::TestApp t;
  write_big_manifest(t.dir / "u.xml", lines);
  const std::string installed = std::string("$version-1.") + padded(lines / 2000, 6);
  Scan scan{};
  for (double* ms : {&scan.first_ms, &scan.ms}) {
    ManifestEntries read;
    const auto start = Clock::now();
    const double cpu_start = thread_cpu_ms();
    if (!read_delta_entries(t.app, "u.xml", installed, read)) std::cerr << "manifest refused\n";
    *ms = elapsed_ms(start);
    scan.cpu_ms = thread_cpu_ms() - cpu_start;
    if (read.entries.empty() || read.entry_lines == 0) {
      std::cerr << "manifest scan found nothing\n";
    }
    // The second scan finds the folders made, as an update does.
    for (const std::string& folder : read.folders) {
      (void)t.app.files().create_directory(t.app.settings().application_directory() + folder);
    }
  }
  return scan;
}

double timed(int rounds, const std::function<double()>& ours, const std::function<double()>& theirs,
             const char* label) {
  std::vector<double> ours_ms, theirs_ms;
  for (int round = 0; round < rounds; ++round) {
    ours_ms.push_back(ours());
    theirs_ms.push_back(theirs());
  }
  const double ours_median = median(ours_ms), theirs_median = median(theirs_ms);
  std::printf("%s: ours_ms=%.1f curl_ms=%.1f (medians of %d) peak_rss_mib=%.1f\n", label,
              ours_median, theirs_median, rounds, peak_rss_mib());
  return ours_median / theirs_median;
}

// The large file as a list of one, checked against its sum as it arrives
// or not: the same road either way, so the ratio is the check's cost.
double ours_large_checked(const testing::Nginx& nginx, std::size_t bytes,
                          const std::optional<FileSum>& sum) {
  testing::TestApp t;
  CurlHttpGet::close_idle_connections();
  FileDownload file{nginx.url("large.bin"), t.app.settings().application_directory() + "large.bin"};
  if (sum) file.check = body_check(*sum, "large.bin");
  const auto start = Clock::now();
  const bool ok = download_files(t.app, {file});
  const double ms = elapsed_ms(start);
  if (!ok || std::filesystem::file_size(t.dir / "large.bin") != bytes)
    std::cerr << "large download failed\n";
  return ms;
}

double verify_overhead(const testing::Nginx& nginx, const std::string& root, std::size_t bytes) {
  const std::optional<FileSum> sum = file_sum(root + "/large.bin");
  if (!sum) std::cerr << "the large file has no sum\n";
  return timed(
      kVerifyRounds, [&] { return ours_large_checked(nginx, bytes, sum); },
      [&] { return ours_large_checked(nginx, bytes, std::nullopt); },
      "large 1 file, checked (ours) / unchecked (curl column)");
}

// The small tree as installed, with its record: how long --verify takes.
double verify_tree_ms() {
  testing::TestApp t;
  const std::string block(kSmallBytes, 's');
  const FileSum sum{sha256_hex(block), block.size()};
  InstalledRecord record;
  for (int i = 0; i < kSmallFiles; ++i) {
    const std::string local = "d" + padded(i % kSmallFolders, 2) + "/f" + padded(i, 4) + ".bin";
    t.dir.write(local, block);
    std::string launcher_path = local;
    std::replace(launcher_path.begin(), launcher_path.end(), '/', '\\');
    record.files[launcher_path] = {"http://127.0.0.1/" + local, sum};
  }
  t.dir.write(std::string("small.xml") + kInstalledSuffix, installed_record_text(record));
  std::vector<double> times;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    const TreeReport report = verify_installed_tree(t.app);
    times.push_back(elapsed_ms(start));
    if (report.files != static_cast<std::size_t>(kSmallFiles) || !report.broken.empty())
      std::cerr << "verify failed\n";
  }
  std::printf("verify 2000 x 4 KiB: ms=%.1f (median of %d)\n", median(times), kRounds);
  return median(times);
}

struct SmallRatios {
  double sequential;  // ours / curl -K
  double parallel;    // ours / curl -Z
};

// The small install against curl one by one and curl in parallel; the
// three alternate round by round, so that a busy moment of the machine
// falls on all of them.
SmallRatios small_ratios(const Served& served, int rounds, int sequential_rounds,
                         const char* label) {
  std::vector<double> ours, sequential, parallel;
  for (int round = 0; round < rounds; ++round) {
    ours.push_back(ours_small(served));
    parallel.push_back(curl_small(served, true));
    if (round < sequential_rounds) sequential.push_back(curl_small(served, false));
  }
  const double ours_ms = median(ours), sequential_ms = median(sequential),
               parallel_ms = median(parallel);
  std::printf(
      "%s: ours_ms=%.1f curl_ms=%.1f curl_par_ms=%.1f (medians of %d, curl -K of %d) "
      "peak_rss_mib=%.1f\n",
      label, ours_ms, sequential_ms, parallel_ms, rounds, sequential_rounds, peak_rss_mib());
  return {ours_ms / sequential_ms, ours_ms / parallel_ms};
}

// A large file that the server cuts off at half once: what the download
// fetches in all, against the file's size (1.0 when nothing is fetched twice).
double resume_ratio(const std::string& root, std::size_t bytes) {
  testing::TestHttpServer server(root);
  server.set_fault("large.bin", testing::TestHttpServer::Fault::short_body, 1);
  testing::TestApp t;
  const bool ok = download_file(t.app, server.url("large.bin"),
                                t.app.settings().application_directory() + "large.bin");
  if (!ok || std::filesystem::file_size(t.dir / "large.bin") != bytes)
    std::cerr << "resumed download failed\n";
  const double ratio = static_cast<double>(server.body_bytes_sent()) / static_cast<double>(bytes);
  std::printf("resume, cut at half once: fetched=%llu size=%zu (%zu requests) peak_rss_mib=%.1f\n",
              static_cast<unsigned long long>(server.body_bytes_sent()), bytes,
              server.requests().size(), peak_rss_mib());
  return ratio;
}

void write_pattern(const std::string& path, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  std::string chunk(64 * 1024, '\0');
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 31 + 3);
  for (std::size_t done = 0; done < bytes; done += chunk.size())
    out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), bytes - done)));
}

// The launcher's rate over 20 MiB under the cap, against the cap: as many
// files as given, all at once.
double capped_rate_ratio(const testing::TempDir& served, const testing::Nginx& nginx, int parts) {
  testing::TestApp t;
  t.app.settings().set_max_kbps(kCapKib);
  t.app.settings().set_max_connections(parts);
  const std::size_t each = kCapBytes / static_cast<std::size_t>(parts);
  std::vector<FileDownload> files;
  for (int i = 0; i < parts; ++i) {
    const std::string name = "cap" + std::to_string(parts) + "_" + std::to_string(i) + ".bin";
    write_pattern(served / name, each);
    files.push_back({nginx.url(name), t.app.settings().application_directory() + name});
  }
  CurlHttpGet::close_idle_connections();
  const auto start = Clock::now();
  const bool ok = download_files(t.app, files);
  const double seconds = elapsed_ms(start) / 1000.0;
  if (!ok) std::cerr << "capped download failed\n";
  const double rate_kib = static_cast<double>(kCapBytes) / 1024.0 / seconds;
  std::printf("cap %d KiB/s, 20 MiB in %d file(s): s=%.2f rate_kib_s=%.1f\n", kCapKib, parts,
              seconds, rate_kib);
  return rate_kib / kCapKib;
}

// curl's own limit on one 20 MiB file, for reference.
void report_curl_cap(const testing::TempDir& served, const testing::Nginx& nginx) {
  write_pattern(served / "cap_curl.bin", kCapBytes);
  testing::TempDir out;
  const auto start = Clock::now();
  const bool ok =
      run({"curl", "--noproxy", "*", "-s", "-f", "--limit-rate", std::to_string(kCapKib) + "K",
           "-o", out / "cap.bin", nginx.url("cap_curl.bin")});
  const double seconds = elapsed_ms(start) / 1000.0;
  if (!ok) std::cerr << "curl capped download failed\n";
  std::printf("cap %d KiB/s, curl --limit-rate, one file: s=%.2f rate/cap=%.3f\n", kCapKib, seconds,
              static_cast<double>(kCapBytes) / 1024.0 / seconds / kCapKib);
}

struct CapRatios {
  double parallel;
  double one;
};

CapRatios cap_ratios(const testing::TempDir& served, const testing::Nginx& nginx) {
  const CapRatios ratios{capped_rate_ratio(served, nginx, kCapParts),
                         capped_rate_ratio(served, nginx, 1)};
  report_curl_cap(served, nginx);
  return ratios;
}

// The processor time of the whole process so far (the batch's thread and
// its writer; nginx is a process of its own).
double process_cpu_ms() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec) * 1000.0 +
         static_cast<double>(usage.ru_utime.tv_usec) / 1000.0;
}

// Installs a manifest of `entries` lines whose sources are `targets` files
// (each line its own target when targets == entries) and answers the
// processor time it took.
double repeated_install_cpu_ms(const testing::Nginx& nginx, int entries, int targets) {
  testing::TestApp t;
  std::string manifest = "$version-1.0\n";
  for (int i = 0; i < entries; ++i) manifest += small_remote(i % targets) + ",\n";
  t.dir.write("repeats.xml", manifest);
  CurlHttpGet::close_idle_connections();
  EntryList list;
  const double start = process_cpu_ms();
  const bool ok = install_full_manifest(t.app, list, "repeats.xml",
                                        t.app.settings().application_directory(), nginx.url(""));
  const double ms = process_cpu_ms() - start;
  if (!ok) std::cerr << "repeated-target install failed\n";
  return ms;
}

// A manifest that names a few targets again and again costs what one of
// distinct targets costs, at every length: twice the entries, twice the time.
void report_repeated_targets(const testing::Nginx& nginx) {
  const int half = 4000, full = 8000, targets = 4;
  const double repeated_half = repeated_install_cpu_ms(nginx, half, targets);
  const double repeated_full = repeated_install_cpu_ms(nginx, full, targets);
  const double distinct_full = repeated_install_cpu_ms(nginx, full, full);
  std::printf(
      "repeated targets (%d of them): entries=%d cpu_ms=%.0f entries=%d cpu_ms=%.0f; "
      "distinct entries=%d cpu_ms=%.0f\n",
      targets, half, repeated_half, full, repeated_full, full, distinct_full);
  std::printf("ratio repeats_growth=%.2f (2.00 is linear) repeats_vs_distinct=%.2f\n",
              repeated_full / repeated_half, repeated_full / distinct_full);
}

}  // namespace

void report_manifest_scans(double& at_100k) {
  std::vector<double> first10k, first100k, scan10k, scan100k, cpu100k;
  for (int round = 0; round < kRounds; ++round) {
    const Scan small = manifest_scan(10000), big = manifest_scan(100000);
    first10k.push_back(small.first_ms);
    first100k.push_back(big.first_ms);
    scan10k.push_back(small.ms);
    scan100k.push_back(big.ms);
    cpu100k.push_back(big.cpu_ms);
  }
  at_100k = median(scan100k);
  std::printf("manifest (no folder made yet): lines=10000 ms=%.2f lines=100000 ms=%.2f\n",
              median(first10k), median(first100k));
  std::printf(
      "manifest: lines=10000 ms=%.2f lines=100000 ms=%.2f (cpu_ms=%.2f) peak_rss_mib=%.1f\n",
      median(scan10k), at_100k, median(cpu100k), peak_rss_mib());
}

int run_bench(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "small") {
    testing::TempDir served;
    make_served_tree(served, 1);
    testing::Nginx nginx(served.path());
    const Served from_nginx = [&](const std::string& path) { return nginx.url(path); };
    const SmallRatios small = small_ratios(from_nginx, kRounds, kRounds, "small 2000 x 4 KiB");
    std::printf("ratio small=%.3f small_par=%.3f\n", small.sequential, small.parallel);
    return 0;
  }
  if (first == "verify") {
    // The integrity figures alone: the checked 512 MiB download and --verify.
    const std::size_t bytes = std::size_t{512} * 1024 * 1024;
    testing::TempDir served;
    make_served_tree(served, 512);
    testing::Nginx nginx(served.path());
    const double overhead = verify_overhead(nginx, served.path(), bytes);
    const double verify_ms = verify_tree_ms();
    std::printf("ratio verify_overhead=%.3f verify_ms=%.1f\n", overhead, verify_ms);
    return 0;
  }
  if (first == "manifest") {
    double ms = 0;
    report_manifest_scans(ms);
    return 0;
  }
  if (first == "repeats") {
    testing::TempDir served;
    const std::string block(kSmallBytes, 's');
    for (int i = 0; i < 8000; ++i) served.write(small_remote(i), block);
    testing::Nginx nginx(served.path());
    report_repeated_targets(nginx);
    return 0;
  }
  if (first == "cap") {
    testing::TempDir served;
    testing::Nginx nginx(served.path());
    const CapRatios cap = cap_ratios(served, nginx);
    std::printf("ratio cap=%.4f cap_one=%.4f\n", cap.parallel, cap.one);
    return 0;
  }
  const std::size_t large_mib = first.empty() ? 512 : std::stoul(first);
  const std::size_t large_bytes = large_mib * 1024 * 1024;
  testing::TempDir served;
  make_served_tree(served, large_mib);
  testing::Nginx nginx(served.path());
  if (!nginx.running()) {
    std::cerr << "nginx did not start:\n" << nginx.error_log();
    return 1;
  }
  std::printf("nginx on 127.0.0.1:%d\n", nginx.port());
  const Served from_nginx = [&](const std::string& path) { return nginx.url(path); };
  const SmallRatios small = small_ratios(from_nginx, kRounds, kRounds, "small 2000 x 4 KiB");
  SmallRatios lat{};
  {
    testing::TestHttpServer slow(served.path());
    slow.set_delay(kLatency);
    const Served from_slow = [&](const std::string& path) { return slow.url(path); };
    lat = small_ratios(from_slow, kLatencyRounds, kLatencySequentialRounds,
                       "small 2000 x 4 KiB, 20 ms per answer");
    CurlHttpGet::close_idle_connections();
  }
  const double large = timed(
      kLargeRounds, [&] { return ours_large(nginx, large_bytes); },
      [&] { return curl_large(nginx, large_bytes); }, "large 1 file");
  const double resume = resume_ratio(served.path(), large_bytes);
  // The downloads' peak: the manifest scans below hold a 100,000-line list
  // in memory, which no download needs, and report their own peak.
  const double download_rss_mib = peak_rss_mib();
  const double overhead = verify_overhead(nginx, served.path(), large_bytes);
  const double verify_ms = verify_tree_ms();
  double manifest_ms = 0;
  report_manifest_scans(manifest_ms);
  const CapRatios cap = cap_ratios(served, nginx);
  std::printf(
      "ratio small=%.3f small_par=%.3f lat=%.3f lat_par=%.3f large=%.3f rss_mib=%.1f "
      "manifest_ms=%.1f resume_bytes=%.3f cap=%.4f cap_one=%.4f verify_overhead=%.3f "
      "verify_ms=%.1f\n",
      small.sequential, small.parallel, lat.sequential, lat.parallel, large, download_rss_mib,
      manifest_ms, resume, cap.parallel, cap.one, overhead, verify_ms);
  return 0;
}

}  // namespace tarvel::bench

int main(int argc, char** argv) { return tarvel::bench::run_bench(argc, argv); }
