#include "agent/shell/settings_text.h"

std::string ComposeSettingsText(const SettingsSnapshot& settings) {
  std::string text = "Talmery Gateway:\r\n    Host: ";
  text += settings.host;
  text += "\r\n    Port: ";
  text += std::to_string(settings.port);
  text += "\r\nMyself:\r\n    First Name: ";
  text += settings.firstName;
  text += "\r\n    Last Name: ";
  text += settings.lastName;
  text += "\r\n    My number: ";
  text += settings.myNumber;
  text += "\r\n\r\n\tUse Menu File->Setup... to change the above settings.";
  return text;
}
