#pragma once
// Identities of Outlook's application events and of the simulator's registration.
#include <windows.h>

namespace sim {

// ApplicationEvents {0006304E-0000-0000-C000-000000000046}
constexpr IID kIidApplicationEvents = {0x0006304E, 0x0000, 0x0000,
                                       {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Outlook's Application class {0006F03A-0000-0000-C000-000000000046}
constexpr CLSID kClsidApplication = {0x0006F03A, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The simulator's own type library {6B1D5C0E-2F44-4A8B-9C3D-0E5F7A21B9D4}
constexpr GUID kLibidSimulator = {0x6B1D5C0E, 0x2F44, 0x4A8B,
                                  {0x9C, 0x3D, 0x0E, 0x5F, 0x7A, 0x21, 0xB9, 0xD4}};
constexpr DISPID kDispidReminder = 0xF004;
// ApplicationEvents.Quit: Outlook is closing (no arguments).
constexpr DISPID kDispidQuit = 0xF007;

constexpr wchar_t kProgId[] = L"Outlook.Application";
constexpr wchar_t kClsidText[] = L"{0006F03A-0000-0000-C000-000000000046}";
constexpr wchar_t kIidApplicationEventsText[] = L"{0006304E-0000-0000-C000-000000000046}";

}  // namespace sim
