// The gateway's answer on arbitrary bytes: the reader never keeps more than its caps, and the way
// the bytes arrive (at once, or cut at arbitrary points) never changes the outcome.
#include "agent/calls/http_wire.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

struct ReadResult {
  HttpAnswerReader::State state;
  HttpAnswerReader::Failure failure;
  int status;
  std::string body;
  bool operator==(const ReadResult& o) const {
    return state == o.state && failure == o.failure && status == o.status && body == o.body;
  }
};

ReadResult Read(const std::string& bytes, size_t step, bool close) {
  HttpAnswerReader reader;
  for (size_t at = 0; at < bytes.size(); at += step) reader.Feed(bytes.data() + at, std::min(step, bytes.size() - at));
  if (close) reader.EndOfStream();
  return {reader.state(), reader.failure(), reader.status(), reader.body()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t step = 1 + data[0] % 7;
  const bool close = data[0] & 0x80;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const ReadResult whole = Read(bytes, bytes.size() + 1, close);
  FUZZ_CHECK(whole == Read(bytes, step, close));
  FUZZ_CHECK(whole.body.size() <= HttpAnswerReader::kMaxBodyBytes);
  FUZZ_CHECK((whole.state == HttpAnswerReader::State::Failed) == (whole.failure != HttpAnswerReader::Failure::None));
  if (close) FUZZ_CHECK(whole.state != HttpAnswerReader::State::NeedMore);
  if (whole.state == HttpAnswerReader::State::Done) FUZZ_CHECK(whole.status >= 200 && whole.status <= 999);
  if (!whole.body.empty()) FUZZ_CHECK(whole.status >= 200 && whole.status < 300);
  return 0;
}
