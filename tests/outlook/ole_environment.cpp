// Every test program here runs on one OLE-initialised thread, as the agent does.
#include <gtest/gtest.h>

#include "agent/framework/ole/ole.h"

namespace {

class OleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(AfxOleInit()); }
  void TearDown() override { AfxOleTerm(); }
};

const auto* const kOleEnvironment = ::testing::AddGlobalTestEnvironment(new OleEnvironment);

}  // namespace
