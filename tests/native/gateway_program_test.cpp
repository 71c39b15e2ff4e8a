// The talmery-gateway program as the demo runs it.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tools/gateway/raw_client.h"

namespace {

struct PipeCloser {
  void operator()(FILE* f) const { pclose(f); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

std::string ReadLine(FILE* f) {
  std::string line;
  for (int c; (c = std::fgetc(f)) != EOF;) {
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  return line;
}

std::string ReadRest(FILE* f) {
  std::string all, line;
  while (!(line = ReadLine(f)).empty()) all += line;
  return all;
}

std::string Post(const std::string& body) {
  return "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Starts the program on a free port; returns the port read from its first line.
uint16_t Launch(Pipe& pipe, const std::string& args) {
  pipe.reset(popen((std::string("exec ") + TALMERY_GATEWAY_EXE + " --port 0 " + args + " 2>&1").c_str(), "r"));
  if (!pipe) return 0;
  std::string first = ReadLine(pipe.get());
  unsigned port = 0;
  if (std::sscanf(first.c_str(), "listening on 127.0.0.1:%u", &port) != 1) return 0;
  return static_cast<uint16_t>(port);
}

TEST(GatewayProgram, PrintsEachCallAndAnswersWithItsId) {
  Pipe pipe;
  uint16_t port = Launch(pipe, "--max-requests 2");
  ASSERT_NE(port, 0);
  EXPECT_EQ(gateway::Exchange(port, "GET /other HTTP/1.1\r\n\r\n").bytes.find("HTTP/1.1 404 Not Found"), 0u);
  std::string a = gateway::Exchange(port, Post("phoneno=5550100&txt=Hi%2c+Ann%0aLine+%e9%0a")).bytes;
  std::string b = gateway::Exchange(port, Post("phoneno=&txt=x")).bytes;
  EXPECT_EQ(a.substr(a.size() - 6), "[1000]");
  EXPECT_EQ(b.substr(b.size() - 32), "ERROR: phoneno holds no number\r\n");
  EXPECT_EQ(ReadRest(pipe.get()),
            "ignored GET /other\n"
            "call request #1000: number 5550100\n"
            "    Hi, Ann\n"
            "    Line \xC3\xA9\n"
            "  answered 200 [1000]\n"
            "call request #1001: number \n"
            "    x\n"
            "  answered 200 ERROR: phoneno holds no number\n"
            "stopped\n");
  EXPECT_EQ(pclose(pipe.release()), 0);
}

TEST(GatewayProgram, FixedStatusAndBody) {
  Pipe pipe;
  uint16_t port = Launch(pipe, "--max-requests 1 --status 503 --body \"ERROR: down\"");
  ASSERT_NE(port, 0);
  std::string got = gateway::Exchange(port, Post("phoneno=1&txt=t")).bytes;
  EXPECT_EQ(got.find("HTTP/1.1 503 Service Unavailable\r\n"), 0u);
  EXPECT_EQ(got.substr(got.size() - 11), "ERROR: down");
  EXPECT_EQ(pclose(pipe.release()), 0);
}

TEST(GatewayProgram, RefusesBadOptions) {
  Pipe pipe(popen((std::string(TALMERY_GATEWAY_EXE) + " --port x 2>&1").c_str(), "r"));
  ASSERT_TRUE(pipe);
  EXPECT_EQ(ReadLine(pipe.get()), "talmery-gateway: --port wants a number from 0 to 65535, not \"x\"\n");
  ReadRest(pipe.get());
  int status = pclose(pipe.release());
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
