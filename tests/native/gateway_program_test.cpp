// The talmery-gateway program as the demo runs it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/gateway/raw_client.h"
#include "tools/gateway/speaker.h"

extern char** environ;

namespace {

// The program with stdout and stderr on a pipe; killed if the test ends early.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), TALMERY_GATEWAY_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int ends[2];
    if (pipe(ends) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    out_ = fdopen(ends[0], "r");
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }

  std::string ReadLine() {
    std::string line;
    for (int c; out_ && (c = std::fgetc(out_)) != EOF;) {
      line += static_cast<char>(c);
      if (c == '\n') break;
    }
    return line;
  }
  std::string ReadRest() {
    std::string all, line;
    while (!(line = ReadLine()).empty()) all += line;
    return all;
  }
  // The port announced on the first line, 0 if the line is not the announcement.
  uint16_t ReadPort() {
    unsigned port = 0;
    if (std::sscanf(ReadLine().c_str(), "listening on 127.0.0.1:%u", &port) != 1) return 0;
    return static_cast<uint16_t>(port);
  }
  // The exit status once the program ended within timeoutMs, else -1.
  int Wait(int timeoutMs) {
    for (int waited = 0; pid_ > 0; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      if (waited >= timeoutMs) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

std::string Post(const std::string& body) {
  return "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool HaveEspeak() { return system("command -v espeak-ng >/dev/null 2>&1") == 0; }

TEST(GatewayProgram, PrintsEachCallAndAnswersWithItsId) {
  Program p({"--port", "0", "--max-requests", "2"});
  uint16_t port = p.ReadPort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(gateway::Exchange(port, "GET /other HTTP/1.1\r\n\r\n").bytes.find("HTTP/1.1 404 Not Found"), 0u);
  std::string a = gateway::Exchange(port, Post("phoneno=5550100&txt=Hi%2c+Ann%0aLine+%e9%0a")).bytes;
  std::string b = gateway::Exchange(port, Post("phoneno=&txt=x")).bytes;
  EXPECT_EQ(a.substr(a.size() - 6), "[1000]");
  EXPECT_EQ(b.substr(b.size() - 32), "ERROR: phoneno holds no number\r\n");
  EXPECT_EQ(p.ReadRest(),
            "ignored GET /other\n"
            "call request #1000: number 5550100\n"
            "    Hi, Ann\n"
            "    Line \xC3\xA9\n"
            "  answered 200 [1000]\n"
            "call request #1001: number \n"
            "    x\n"
            "  answered 200 ERROR: phoneno holds no number\n"
            "stopped\n");
  EXPECT_EQ(p.Wait(5000), 0);
}

TEST(GatewayProgram, FixedStatusAndBody) {
  Program p({"--port", "0", "--max-requests", "1", "--status", "503", "--body", "ERROR: down"});
  uint16_t port = p.ReadPort();
  ASSERT_NE(port, 0);
  std::string got = gateway::Exchange(port, Post("phoneno=1&txt=t")).bytes;
  EXPECT_EQ(got.find("HTTP/1.1 503 Service Unavailable\r\n"), 0u);
  EXPECT_EQ(got.substr(got.size() - 11), "ERROR: down");
  EXPECT_EQ(p.Wait(5000), 0);
}

TEST(GatewayProgram, TerminationSignalEndsItCleanly) {
  for (int sig : {SIGTERM, SIGINT}) {
    Program p({"--port", "0"});
    ASSERT_NE(p.ReadPort(), 0);
    ASSERT_EQ(kill(p.pid(), sig), 0);
    EXPECT_EQ(p.ReadRest(), "stopped\n");
    EXPECT_EQ(p.Wait(5000), 0) << sig;
  }
}

TEST(GatewayProgram, RefusesBadOptionsAndATakenPort) {
  Program bad({"--port", "x"});
  EXPECT_EQ(bad.ReadLine(), "talmery-gateway: --port wants a number from 0 to 65535, not \"x\"\n");
  int status = bad.Wait(5000);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);

  Program first({"--port", "0"});
  uint16_t port = first.ReadPort();
  ASSERT_NE(port, 0);
  Program second({"--port", std::to_string(port)});
  EXPECT_EQ(second.ReadLine(), "talmery-gateway: cannot listen on 127.0.0.1:" + std::to_string(port) + "\n");
  status = second.Wait(5000);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(GatewayProgram, SpeaksEachAcceptedCallIntoAWaveFile) {
  if (!HaveEspeak()) GTEST_SKIP() << "espeak-ng is not installed";
  char dir[] = "/tmp/gateway-speak-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  {
    Program p({"--port", "0", "--max-requests", "1", "--speak-dir", dir});
    uint16_t port = p.ReadPort();
    ASSERT_NE(port, 0);
    gateway::Exchange(port, Post("phoneno=5550100&txt=-w+%2fetc%2fpasswd+Hello"));
    std::string out = p.ReadRest();
    std::string wav = std::string(dir) + "/call-1000.wav";
    EXPECT_NE(out.find("call request #1000: spoken to " + wav + " ("), std::string::npos) << out;
    EXPECT_EQ(p.Wait(5000), 0);
    std::ifstream f(wav, std::ios::binary);
    char magic[4] = {};
    f.read(magic, 4);
    EXPECT_EQ(std::string(magic, 4), "RIFF");
    std::remove(wav.c_str());
  }
  rmdir(dir);
}

TEST(GatewaySpeaker, ReportsAFolderItCannotWriteTo) {
  if (!HaveEspeak()) GTEST_SKIP() << "espeak-ng is not installed";
  std::string error;
  EXPECT_FALSE(gateway::SpeakToWav("hello", "/nonexistent-folder/x.wav", error));
  EXPECT_EQ(error.find("espeak-ng failed"), 0u) << error;
}

}  // namespace
