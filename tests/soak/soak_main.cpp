// quillon-soak: whole downloads with faults drawn from a seed, on all three
// interfaces, against the in-process printer emulator on a virtual clock.
// Every run checks the invariants of soak_run.cpp; a run that breaks one
// prints its seed and the command that replays it alone. At the end a
// Markdown table gives the runs, the faults drawn, the results, the longest
// run against its bound and the process's resources.
//
//   quillon-soak [--seed S] [--runs N] [--interface serial|parallel|usb|all] [-v]
//   quillon-soak --case usb:123 --case serial:77     (these runs only)

#include <malloc.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <latch>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/result_table.h"
#include "soak/scenario.h"
#include "soak/soak_run.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#define QUILLON_SOAK_SANITIZED 1
#endif

namespace quillon::soak {

namespace {

// The heap in use after the last run may exceed that after the first by
// this much. None: with glibc's per-thread cache off (below) the count is
// what the process holds.
constexpr long long kHeapTolerance = 0;

// glibc's per-thread cache (tcache) keeps freed blocks for reuse, and
// mallinfo2 counts them as in use: the count would creep up over the runs
// as rarer block sizes fill the main thread's cache. The program therefore
// runs itself again with the cache off, unless it is off already.
// (Sanitizer builds have their own allocator and leak check.)
void RunWithoutThreadCache(char** argv) {
#ifndef QUILLON_SOAK_SANITIZED
  constexpr const char* kOff = "glibc.malloc.tcache_count=0";
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables && std::strstr(tunables, kOff)) return;
  const std::string value = tunables && *tunables ? std::string(tunables) + ":" + kOff : kOff;
  ::setenv("GLIBC_TUNABLES", value.c_str(), 1);
  ::execv("/proc/self/exe", argv);
  // Could not run itself again: go on with the cache on.
#else
  (void)argv;
#endif
}

// ---- The replay line, kept where a signal handler can print it.
char replayLine[512];

void PrintReplay() {
  const size_t n = std::strlen(replayLine);
  if (n > 0) [[maybe_unused]]
    auto w = ::write(STDERR_FILENO, replayLine, n);
}

extern "C" void OnAbort(int) {
  static const char kHead[] = "\nquillon-soak: aborted during a run; ";
  [[maybe_unused]] auto w = ::write(STDERR_FILENO, kHead, sizeof kHead - 1);
  PrintReplay();
  // Returning lets abort() end the process.
}

// ---- A run that does not end within `seconds` of real time is a deadlock
// (a normal run takes milliseconds on the virtual clock).
class Watchdog {
 public:
  explicit Watchdog(int seconds) : seconds_(seconds), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Arm() {
    std::lock_guard lock(mutex_);
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds_);
    cv_.notify_all();
  }
  void Disarm() {
    std::lock_guard lock(mutex_);
    deadline_.reset();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (!deadline_) {
        cv_.wait(lock);
        continue;
      }
      if (cv_.wait_until(lock, *deadline_) == std::cv_status::timeout && deadline_ &&
          std::chrono::steady_clock::now() >= *deadline_) {
        std::fprintf(stderr, "\nquillon-soak: a run did not end within %d s (deadlock)\n",
                     seconds_);
        std::abort();
      }
    }
  }

  const int seconds_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;                                              // guarded by mutex_
  std::optional<std::chrono::steady_clock::time_point> deadline_;  // guarded by mutex_
  std::thread thread_;
};

// glibc keeps the stacks of ended threads for reuse (up to 40 MiB of
// them), each with its thread-local storage table allocated on the heap; the
// table stays while its stack is kept. How many stacks are kept depends on
// how many threads were alive at once, which the first run may not reach:
// a later run would then add tables that look like heap the runs keep.
// Running more threads at once than the cache keeps stacks for, before the
// first run, fills the cache from the start.
void FillThreadStackCache() {
  constexpr int kThreads = 16;
  std::latch allRunning(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back([&] { allRunning.arrive_and_wait(); });
  for (std::thread& t : threads) t.join();
}

long long HeapInUse() {
  return static_cast<long long>(mallinfo2().uordblks);
}

struct Resources {
  int descriptors = 0;
  int threads = 0;
  long long heap = 0;
};

Resources Measure() {
  return {OpenDescriptors(), Threads(), HeapInUse()};
}

constexpr int kMaxCode = 1100;

struct Stats {
  int runs = 0;
  int failed = 0;
  int faultless = 0;
  int firstIplSectorUnverified = 0;
  std::array<int, kFaultKinds> faults{};
  std::array<int, kMaxCode> codes{};
  int64_t longestMs = -1;
  int64_t longestBoundMs = 0;
  uint64_t longestSeed = 0;
  std::optional<Resources> first;
  Resources last;
};

struct Case {
  Interface iface;
  uint64_t seed;
};

std::optional<Interface> ParseInterface(const std::string& text) {
  for (Interface iface : kInterfaces) {
    if (text == InterfaceName(iface)) return iface;
  }
  return std::nullopt;
}

std::string Seconds(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string CodeText(int code) {
  std::string text = std::to_string(code);
  const auto message = app::LookupResult(code);
  if (code == 1039) return text + " (the system's text for the failed request)";
  if (!message) return text;
  std::string words = message->text;
  for (char& c : words) {
    if (c == '\n') c = ' ';
  }
  if (words.size() > 48) words = words.substr(0, 45) + "...";
  return text + " " + words;
}

void PrintTable(const std::vector<Interface>& used, const std::array<Stats, 3>& stats) {
  const auto row = [&](const std::string& name, auto cell) {
    std::printf("| %s |", name.c_str());
    for (Interface iface : used)
      std::printf(" %s |", cell(stats[static_cast<size_t>(iface)]).c_str());
    std::printf("\n");
  };
  std::printf("\n| |");
  for (Interface iface : used) std::printf(" %s |", std::string(InterfaceName(iface)).c_str());
  std::printf("\n|---|");
  for (size_t i = 0; i < used.size(); ++i) std::printf("---:|");
  std::printf("\n");
  const auto number = [](int n) { return std::to_string(n); };
  row("runs", [&](const Stats& s) { return number(s.runs); });
  row("runs breaking an invariant", [&](const Stats& s) { return number(s.failed); });
  row("runs without a fault", [&](const Stats& s) { return number(s.faultless); });
  row("done, first IPL sector not written (unverifiable)",
      [&](const Stats& s) { return number(s.firstIplSectorUnverified); });
  for (int k = 0; k < kFaultKinds; ++k) {
    row("fault: " + std::string(FaultName(static_cast<FaultKind>(k))),
        [&](const Stats& s) { return number(s.faults[static_cast<size_t>(k)]); });
  }
  for (int code = 0; code < kMaxCode; ++code) {
    bool seen = false;
    for (Interface iface : used) seen = seen || stats[static_cast<size_t>(iface)].codes[code] > 0;
    if (!seen) continue;
    row("result " + CodeText(code),
        [&](const Stats& s) { return number(s.codes[static_cast<size_t>(code)]); });
  }
  row("longest run (virtual) / its bound", [&](const Stats& s) {
    return s.longestMs < 0 ? std::string("-")
                           : Seconds(s.longestMs) + " / " + Seconds(s.longestBoundMs);
  });
  const auto pair = [](const Stats& s, auto field) {
    if (!s.first) return std::string("-");
    return std::to_string(field(*s.first)) + " / " + std::to_string(field(s.last));
  };
  row("file descriptors after first / last run",
      [&](const Stats& s) { return pair(s, [](const Resources& r) { return r.descriptors; }); });
  row("threads after first / last run",
      [&](const Stats& s) { return pair(s, [](const Resources& r) { return r.threads; }); });
#ifdef QUILLON_SOAK_SANITIZED
  // The sanitizer's allocator is not glibc's: mallinfo2 sees none of it, and
  // the leak check at exit takes the count's place.
  row("heap in use after first / last run",
      [](const Stats&) { return std::string("(sanitizer)"); });
#else
  row("heap in use after first / last run (bytes)",
      [&](const Stats& s) { return pair(s, [](const Resources& r) { return r.heap; }); });
#endif
}

int Main(int argc, char** argv) {
  RunWithoutThreadCache(argv);
  // Standard output's buffer is static: one allocated at the first line
  // printed (a failing run's) would count as heap the runs keep.
  static char outBuffer[BUFSIZ];
  std::setvbuf(stdout, outBuffer, _IOLBF, sizeof outBuffer);
  CLI::App app{"Seeded fault soak of whole downloads on the virtual clock"};
  uint64_t baseSeed = 1;
  int runs = 100;
  std::string interfaceText = "all";
  bool verbose = false;
  int watchdogSeconds = 60;
  std::vector<std::string> caseTexts;
  app.add_option("--seed", baseSeed, "seed of the first run; run n has seed + n");
  app.add_option("--runs", runs, "runs per interface")->check(CLI::NonNegativeNumber);
  app.add_option("--interface", interfaceText, "serial, parallel, usb or all")
      ->check(CLI::IsMember({"serial", "parallel", "usb", "all"}));
  app.add_flag("-v,--verbose", verbose, "describe every run; transcripts of failing runs");
  app.add_option("--watchdog", watchdogSeconds, "real seconds a run may take")
      ->check(CLI::PositiveNumber);
  app.add_option("--case", caseTexts, "INTERFACE:SEED, a run of its own (repeatable)");
  CLI11_PARSE(app, argc, argv);

  std::vector<Case> cases;
  for (const std::string& text : caseTexts) {
    const size_t colon = text.find(':');
    const auto iface = ParseInterface(text.substr(0, colon));
    if (colon == std::string::npos || !iface) {
      std::fprintf(stderr, "quillon-soak: --case wants INTERFACE:SEED, not %s\n", text.c_str());
      return 2;
    }
    cases.push_back({*iface, std::stoull(text.substr(colon + 1))});
  }
  std::vector<Interface> used;
  if (cases.empty()) {
    for (Interface iface : kInterfaces) {
      if (interfaceText == "all" || interfaceText == InterfaceName(iface)) used.push_back(iface);
    }
    for (Interface iface : used) {
      for (int n = 0; n < runs; ++n) cases.push_back({iface, baseSeed + static_cast<uint64_t>(n)});
    }
  } else {
    for (Interface iface : kInterfaces) {
      for (const Case& c : cases) {
        if (c.iface == iface) {
          used.push_back(iface);
          break;
        }
      }
    }
  }

  // One malloc arena: otherwise glibc makes new arenas, up to eight per
  // core, as the runs' threads happen to contend, and the bookkeeping of
  // each new arena counts as heap in use though no run keeps anything.
  mallopt(M_ARENA_MAX, 1);
  std::signal(SIGABRT, OnAbort);
#ifdef QUILLON_SOAK_SANITIZED
  __sanitizer_set_death_callback(PrintReplay);
#endif
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quillon-soak-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string program = argc > 0 ? argv[0] : "quillon-soak";

  FillThreadStackCache();
  std::array<Stats, 3> stats{};
  int failedRuns = 0;
  {
    Watchdog watchdog(watchdogSeconds);
    for (const Case& c : cases) {
      Stats& st = stats[static_cast<size_t>(c.iface)];
      // The run's own objects are gone before the process is measured.
      {
        const Scenario s = DrawScenario(c.seed, c.iface);
        const std::string name(InterfaceName(c.iface));
        std::snprintf(replayLine, sizeof replayLine,
                      "replay: %s --seed %llu --runs 1 --interface %s -v\n", program.c_str(),
                      static_cast<unsigned long long>(c.seed), name.c_str());
        if (verbose)
          std::printf("%s seed %llu: %s\n", name.c_str(), static_cast<unsigned long long>(c.seed),
                      s.Describe().c_str());
        watchdog.Arm();
        const RunResult r = RunScenario(s, dir, verbose);
        watchdog.Disarm();

        ++st.runs;
        if (s.faults.empty()) ++st.faultless;
        if (r.firstIplSectorUnverified) ++st.firstIplSectorUnverified;
        for (FaultKind k : s.faults) ++st.faults[static_cast<size_t>(k)];
        if (r.code >= 0 && r.code < kMaxCode) ++st.codes[static_cast<size_t>(r.code)];
        if (r.durationMs > st.longestMs) {
          st.longestMs = r.durationMs;
          st.longestBoundMs = r.boundMs;
          st.longestSeed = c.seed;
        }
        if (verbose) {
          std::printf("  result %d after %s (bound %s)\n", r.code, Seconds(r.durationMs).c_str(),
                      Seconds(r.boundMs).c_str());
        }
        if (!r.failures.empty()) {
          ++st.failed;
          ++failedRuns;
          std::printf("FAIL %s seed %llu: %s\n", name.c_str(),
                      static_cast<unsigned long long>(c.seed), s.Describe().c_str());
          for (const std::string& f : r.failures) std::printf("  - %s\n", f.c_str());
          if (verbose) std::printf("%s", r.transcript.c_str());
          std::printf("  %s", replayLine);
        }
        std::fflush(stdout);
      }
      st.last = Measure();
      if (!st.first) st.first = st.last;
    }
    replayLine[0] = '\0';
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);

  PrintTable(used, stats);
  // The process's resources after the last run are those after the first.
  int leaks = 0;
  for (Interface iface : used) {
    const Stats& st = stats[static_cast<size_t>(iface)];
    if (!st.first) continue;
    const Resources& a = *st.first;
    const Resources& b = st.last;
    if (a.descriptors != b.descriptors || a.threads != b.threads ||
        b.heap - a.heap > kHeapTolerance) {
      std::printf("RESOURCES %s: descriptors %d -> %d, threads %d -> %d, heap %lld -> %lld\n",
                  std::string(InterfaceName(iface)).c_str(), a.descriptors, b.descriptors,
                  a.threads, b.threads, a.heap, b.heap);
      ++leaks;
    }
  }
  std::printf("\n%d run(s) breaking an invariant%s\n", failedRuns,
              leaks ? ", and resources grew over the runs" : "");
  return failedRuns == 0 && leaks == 0 ? 0 : 1;
}

}  // namespace

}  // namespace quillon::soak

int main(int argc, char** argv) {
  return quillon::soak::Main(argc, argv);
}
