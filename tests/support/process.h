#pragma once
// Other programs of the project, run from tests: the printer emulator on its
// pseudo-terminal, and command-line runs with their output and exit status.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quillon::testing {

inline constexpr int kProcessPatienceMs = 5000;  // generous: the machine may be busy

// quillon-printer-sim, started with its options; it serves a pseudo-terminal
// until stopped.
class SimProcess {
 public:
  // Starts the program; returns the terminal path from its first line.
  std::string Start(std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    args.insert(args.begin(), QUILLON_PRINTER_SIM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdout_ = out[0];
    if (rc != 0) {
      pid_ = -1;
      return {};
    }
    std::string line;
    char c = 0;
    while (line.empty() || line.back() != '\n') {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, kProcessPatienceMs) != 1 || read(stdout_, &c, 1) != 1) return {};
      line += c;
    }
    line.pop_back();
    return line;
  }

  // Sends SIGTERM and returns the exit status, or -1 if the program does not
  // end in time.
  int Stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait();
  }

  // Ends the program at once, as a crash or a pulled cable would: its
  // terminal hangs up and nothing is written.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // The exit status once the program ended by itself; -1 if it does not.
  int Wait() {
    if (pid_ < 0) return -1;
    for (int waited = 0; waited < kProcessPatienceMs; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

struct ProcessResult {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

// Called with the standard error read so far and the process id, after each
// read: lets a test act on what the program has said (send it a signal).
using OutputWatcher = std::function<void(const std::string& err, pid_t pid)>;

// Where a program's standard output or error goes.
enum class Sink {
  kCaptured,    // a pipe read into the result
  kBrokenPipe,  // a pipe whose reading end is closed before the program starts
  kFull,        // /dev/full: every write fails with ENOSPC
  kClosed,      // no descriptor at all
  kStuck,       // a pipe already full that nobody reads: every write blocks
};

struct Streams {
  bool inputClosed = false;  // otherwise /dev/null
  Sink out = Sink::kCaptured;
  Sink err = Sink::kCaptured;
};

namespace detail {

// Connects `fd` of the child as `sink` says; `pipe` is the pipe made for it
// (kCaptured, kBrokenPipe).
inline void Connect(posix_spawn_file_actions_t& actions, int fd, Sink sink, const int pipe[2]) {
  switch (sink) {
    case Sink::kCaptured:
    case Sink::kBrokenPipe:
    case Sink::kStuck:
      posix_spawn_file_actions_adddup2(&actions, pipe[1], fd);
      break;
    case Sink::kFull:
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/full", O_WRONLY, 0);
      break;
    case Sink::kClosed:
      posix_spawn_file_actions_addclose(&actions, fd);
      break;
  }
}

}  // namespace detail

// Runs a program to its end (killed after `limitMs`), with extra environment
// entries "NAME=value" and its standard streams connected as `streams` says.
inline ProcessResult RunProcess(std::vector<std::string> argv, int limitMs,
                                const std::vector<std::string>& env = {},
                                const OutputWatcher& watch = nullptr, const Streams& streams = {}) {
  ProcessResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) return result;
  // A broken pipe is broken from the start: nobody will ever read it.
  if (streams.out == Sink::kBrokenPipe) close(out[0]);
  if (streams.err == Sink::kBrokenPipe) close(err[0]);
  // A stuck pipe is as small as a pipe can be, and filled before the start.
  for (int* p : {out, err}) {
    if ((p == out ? streams.out : streams.err) != Sink::kStuck) continue;
    fcntl(p[1], F_SETPIPE_SZ, 4096);
    fcntl(p[1], F_SETFL, O_NONBLOCK);
    const char fill[512] = {};
    while (write(p[1], fill, sizeof fill) > 0) {
    }
    fcntl(p[1], F_SETFL, 0);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  detail::Connect(actions, STDOUT_FILENO, streams.out, out);
  detail::Connect(actions, STDERR_FILENO, streams.err, err);
  if (streams.inputClosed) {
    posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  // The variables given take the place of inherited ones of the same name.
  const auto given = [&env](const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    return std::any_of(env.begin(), env.end(),
                       [&name](const std::string& e) { return e.rfind(name, 0) == 0; });
  };
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    if (!given(*e)) envStrings.emplace_back(*e);
  }
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  bool outOpen = streams.out == Sink::kCaptured, errOpen = streams.err == Sink::kCaptured;
  // Stuck pipes stay open, unread, until the program has ended.
  const int stuck[2] = {streams.out == Sink::kStuck ? out[0] : -1,
                        streams.err == Sink::kStuck ? err[0] : -1};
  const auto dropped = [](Sink sink) { return sink != Sink::kBrokenPipe && sink != Sink::kStuck; };
  if (!outOpen && dropped(streams.out)) close(out[0]);
  if (!errOpen && dropped(streams.err)) close(err[0]);
  if (!outOpen) out[0] = -1;
  if (!errOpen) err[0] = -1;
  if (rc != 0) {
    if (outOpen) close(out[0]);
    if (errOpen) close(err[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (outOpen || errOpen) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    // A negative descriptor is left out by poll.
    pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (poll(p, 2, static_cast<int>(left)) < 0) continue;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(p[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        if (i == 1 && watch) watch(result.err, pid);
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  if (out[0] >= 0) close(out[0]);
  if (err[0] >= 0) close(err[0]);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (const int fd : stuck) {
    if (fd >= 0) close(fd);
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// A run of a program on a terminal of its own.
struct TerminalResult {
  int status = -1;    // exit status; 128 + signal when killed
  std::string shown;  // what the program wrote to the terminal
  termios before{};   // the terminal's settings before the program started
  termios after{};    // and after it ended
};

// Runs a program in a new session whose controlling terminal is a new
// pseudo-terminal, with its standard streams on that terminal, as a user at
// a terminal runs it (killed after `limitMs`). An argument "{tty}" stands for
// the terminal's path.
inline TerminalResult RunOnTerminal(std::vector<std::string> argv, int limitMs) {
  TerminalResult result;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[256];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0) {
    if (master >= 0) close(master);
    return result;
  }
  // Held by the test too: the settings stay readable after the program has
  // gone, and the terminal does not hang up when it ends.
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0 || tcgetattr(slave, &result.before) != 0) {
    if (slave >= 0) close(slave);
    close(master);
    return result;
  }
  for (std::string& a : argv) {
    if (a == "{tty}") a = name;
  }
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    if (setsid() < 0) _exit(126);
    const int tty = open(name, O_RDWR);  // a session leader's first terminal: its controlling one
    if (tty < 0) _exit(126);
    dup2(tty, STDIN_FILENO);
    dup2(tty, STDOUT_FILENO);
    dup2(tty, STDERR_FILENO);
    if (tty > STDERR_FILENO) close(tty);
    execve(args[0], args.data(), environ);
    _exit(127);
  }
  if (pid > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    int status = 0;
    for (bool ended = false;;) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, ended ? 0 : 20) > 0) {
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
          result.shown.append(buffer, static_cast<size_t>(n));
          continue;
        }
      }
      if (ended) break;  // and all it wrote has been read
      if (waitpid(pid, &status, WNOHANG) == pid) {
        ended = true;
      } else if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ended = true;
      }
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  tcgetattr(slave, &result.after);
  close(slave);
  close(master);
  return result;
}

}  // namespace quillon::testing
