// A whole call request from arbitrary appointment texts and names: the form body parses back
// into exactly the fields sent, the number holds only digits (a '+' in front at most), and the
// text is the one composed, within the gateway's limit and without NULs.
#include "agent/calls/call_text.h"
#include "agent/calls/text_encoding.h"
#include "tests/fuzz/fuzz_input.h"
#include "tools/gateway/form.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t minutes = 0;
  if (size >= 4) {
    std::memcpy(&minutes, data, 4);
    data += 4;
    size -= 4;
  }
  const std::vector<std::string> f = SplitFuzzInput(data, size, 6);
  ReminderRecord record;
  record.m_strPhone = f[0];
  record.m_strSubject = f[1];
  record.m_strLocation = f[2];
  record.m_strNotes = f[3];
  record.m_nMinutes = minutes;
  const std::string number = DialledNumber(record.m_strPhone);
  for (size_t i = 0; i < number.size(); ++i) FUZZ_CHECK((number[i] >= '0' && number[i] <= '9') || (i == 0 && number[i] == '+'));
  // A small limit, so that the shortening is what the fuzzer explores.
  const size_t limit = 64 + (minutes & 0xFF);
  const std::string text =
      FitCallText(CallerName(f[4], f[5]), record, static_cast<long long>(minutes) * 61, limit, Utf8Bytes);
  FUZZ_CHECK(text.size() <= limit);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  const std::string body = ComposeCallForm(minutes, number, text);
  const auto form = gateway::ParseForm(body);
  FUZZ_CHECK(form.size() == 5);
  FUZZ_CHECK(gateway::FormField(form, "calltime") == "0");
  FUZZ_CHECK(gateway::FormField(form, "selfdelete") == "1");
  FUZZ_CHECK(gateway::FormField(form, "firstocc") == std::to_string(minutes));
  FUZZ_CHECK(gateway::FormField(form, "phoneno") == number);
  FUZZ_CHECK(gateway::FormField(form, "txt") == text);
  return 0;
}
