#pragma once
// Every test of the call requests starts and ends without any Brisomel key in HKCU.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/harness/registry.h"

class SettingsKeyFixture : public ::testing::Test {
 protected:
  harness::ScopedRegistryKey m_brisomelKey{HKEY_CURRENT_USER, "Software\\Brisomel"};
};
