#pragma once
// Other programs of the project, run from tests: the printer emulator on its
// pseudo-terminal, and command-line runs with their output and exit status.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs a program to its end (killed after `limitMs`), with extra environment
// entries "NAME=value".
inline ProcessResult RunProcess(std::vector<std::string> argv, int limitMs,
                                const std::vector<std::string>& env = {},
                                const OutputWatcher& watch = nullptr) {
  ProcessResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(p, 2, static_cast<int>(left)) < 0) continue;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(p[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        if (i == 1 && watch) watch(result.err, pid);
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace quillon::testing
