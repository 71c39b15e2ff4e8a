#pragma once
// Pieces of log lines: HRESULT names, quoted texts, durations. No timestamps: lines are compared
// exactly by tests.
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// "DISP_E_MEMBERNOTFOUND" for the codes the simulator meets, else "0x8000FFFF".
std::string HresultName(uint32_t hr);
// "0x%08X"
std::string Hex32(uint32_t value);
// Text in double quotes: \" \\ \n \r \t escaped, other control characters as \u{X}; UTF-8 out.
std::string QuoteForLog(std::u16string_view text);
// Milliseconds with three decimals: "3.142".
std::string FormatMs(double ms);

}  // namespace sim
