// The keys a callee presses, as SIP INFO carries them.
#include <gtest/gtest.h>

#include "gateway/sip_keys.h"

namespace talmery {
namespace {

// The key of a SIP INFO, as PBXs and phones send it.
TEST(SipInfoKeys, TheKeyOfEachBody) {
  const struct {
    const char* type;
    const char* body;
    char key;
  } cases[] = {{"application/dtmf-relay", "Signal=1\r\nDuration=160\r\n", '1'},
               {"Application/DTMF-Relay", "signal = 1\nDuration=250", '1'},
               {"application/dtmf-relay", "Duration=160\r\nSignal=#\r\n", '#'},
               {"application/dtmf-relay", "Signal=11\r\n", 0},
               {"application/dtmf-relay", "Duration=160\r\n", 0},
               {"application/dtmf-relay", "Signal=x\r\n", 0},
               {"application/dtmf", "1", '1'},
               {"application/dtmf; charset=us-ascii", " 5\r\n", '5'},
               {"application/dtmf", "12", 0},
               {"text/plain", "Signal=1", 0},
               {"application/dtmf-relay", "", 0}};
  for (const auto& c : cases) EXPECT_EQ(InfoKey(c.type, c.body), c.key) << c.type << " " << c.body;
}

}  // namespace
}  // namespace talmery
