#pragma once
// The text of the settings view: the gateway's host and port, then the user's names and number,
// then a hint where to change them. Lines end in CR LF, the last one without.
#include <cstdint>
#include <string>

struct SettingsSnapshot {
  std::string host;
  int32_t port = 0;
  std::string myNumber;
  std::string firstName;
  std::string lastName;
};

std::string ComposeSettingsText(const SettingsSnapshot& settings);
