// SPDX-License-Identifier: GPL-3.0-or-later
// Child processes for tests: each in its own process group, waited for within a bound and killed
// (with everything it started) when the bound passes or the test ends first.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/wait.h"

extern char** environ;

namespace rendax::testing {

// A command line, a file import or a sox conversion takes seconds even in a debug build.
inline constexpr std::chrono::milliseconds kProcessBound{120000};

class Child {
 public:
  // Starts `argv` with `env` ("NAME=value") added to this environment; standard output and
  // error go to the files named, or stay this process's when the name is empty.
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
        const std::string& out = "", const std::string& err = "") {
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<std::string> strings = env;
    for (char** e = environ; *e; ++e) strings.emplace_back(*e);
    std::vector<char*> envp, args;
    for (std::string& s : strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvCopy = argv;
    for (std::string& a : argvCopy) args.push_back(a.data());
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      if (!out.empty()) dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      if (!err.empty()) dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      execve(args[0], args.data(), envp.data());
      _exit(127);
    }
    // Set from both sides, so a kill right after the start reaches the whole group.
    if (pid_ > 0) setpgid(pid_, pid_);
  }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit status, or -1 when the child did not exit by itself: killed by a signal, or still
  // running after `bound` (then it is killed, and the failure names `what`).
  int Wait(const std::string& what, std::chrono::milliseconds bound = kProcessBound) {
    if (pid_ <= 0) return -1;
    int raw = 0;
    if (auto ended = WaitUntil([&] { return waitpid(pid_, &raw, WNOHANG) == pid_; }, bound,
                               what + " ending");
        !ended) {
      ADD_FAILURE() << ended.message() << " (killed)";
      Kill();
      return -1;
    }
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

 private:
  void Kill() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
};

// `command` through the shell, as std::system runs it but bounded: its exit status, or -1.
inline int RunShell(const std::string& command, std::chrono::milliseconds bound = kProcessBound) {
  return Child({"/bin/sh", "-c", command}).Wait("`" + command + "`", bound);
}

}  // namespace rendax::testing
