// Every system test runs on an OLE single-threaded apartment (the gate advises sinks from it)
// with the Outlook simulator registered as "Outlook.Application".
#include <gtest/gtest.h>
#include <objbase.h>

#include "tests/system/system_paths.h"
#include "tools/outlook-sim/driver/sim_driver.h"

namespace {

class SystemEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_TRUE(simdriver::SimProcess(systemtest::OutlookSimExeW()).Register()) << "outlook-sim.exe /regserver failed";
  }
  void TearDown() override {
    simdriver::SimProcess(systemtest::OutlookSimExeW()).Unregister();
    OleUninitialize();
  }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SystemEnvironment);

}  // namespace
