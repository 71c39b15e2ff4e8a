#include "tools/outlook-sim/clock.h"

#include <windows.h>

#include "tools/outlook-sim/script/sim_time.h"

namespace sim {

int64_t LocalNowSeconds() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  CivilTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  return CivilToSeconds(t);
}

}  // namespace sim
