#pragma once
// A program a test runs beside the gateway (Prometheus, a web server, a browser): in a process
// group of its own, its output in files; the whole group is ended when the owner goes, so that
// a browser's helpers do not outlive a failed test.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace gwtest {

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> args, const std::string& outPath, const std::string& errPath) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    if (pid_ > 0) {
      setpgid(pid_, pid_);  // on both sides: the group exists before either goes on
      group_ = pid_;
    }
    close(out);
    close(err);
  }
  ~ChildProcess() {
    if (pid_ <= 0) return;
    kill(-group_, SIGTERM);
    if (Wait(5000) < 0) {
      kill(-group_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the program's exit: its status, or -1 when it still runs after timeoutMs.
  int Wait(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        kill(-group_, SIGKILL);  // helpers of its own left in the group
        pid_ = -1;
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
  }

 private:
  pid_t pid_ = -1, group_ = -1;
  int status_ = -1;
};

}  // namespace gwtest
