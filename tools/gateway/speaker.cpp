#include "tools/gateway/speaker.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace gateway {

#ifdef _WIN32

bool SpeakToWav(const std::string&, const std::string&, std::string& error) {
  error = "speaking needs espeak-ng on Linux";
  return false;
}

#else

namespace {
// Owns one descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};
}  // namespace

bool SpeakToWav(const std::string& utf8Text, const std::string& wavPath, std::string& error) {
  unlink(wavPath.c_str());  // a file left from an earlier run must not pass for this one
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  Fd readEnd(ends[0]), writeEnd(ends[1]);

  // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
  std::string program = "espeak-ng", wFlag = "-w", stdinFlag = "--stdin";
  std::string path = wavPath;
  char* argv[] = {program.data(), wFlag.data(), path.data(), stdinFlag.data(), nullptr};

  pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    if (dup2(readEnd.get(), STDIN_FILENO) < 0) _exit(126);
    execvp(argv[0], argv);
    _exit(127);
  }
  readEnd.reset();

  bool written = true;
  size_t done = 0;
  while (done < utf8Text.size()) {
    ssize_t n = write(writeEnd.get(), utf8Text.data() + done, utf8Text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      written = false;  // espeak-ng ended early; its exit status says why
      break;
    }
    done += static_cast<size_t>(n);
  }
  writeEnd.reset();

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      error = std::string("waitpid: ") + std::strerror(errno);
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    error = "espeak-ng not found";
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !written) {
    error = "espeak-ng failed (status " + std::to_string(status) + ")";
    return false;
  }
  // espeak-ng exits with 0 even when it could not create the file.
  struct stat info;
  if (stat(wavPath.c_str(), &info) != 0 || info.st_size == 0) {
    error = "espeak-ng failed to write " + wavPath;
    return false;
  }
  return true;
}

#endif

}  // namespace gateway
