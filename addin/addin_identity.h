#pragma once
// Who the add-in is: the class it serves, its ProgID and how Outlook is told to load it.
#include <windows.h>

// {8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}
inline constexpr CLSID kClsidAddin = {
    0x8A61C2E4, 0x3B7F, 0x4C19, {0x9D, 0x25, 0x6E, 0x0B, 0x7F, 0x41, 0xA3, 0xC8}};
// The same class id as registry text: braces included, letter case exactly as published.
inline constexpr char kClsidAddinText[] = "{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}";

inline constexpr char kAddinProgId[] = "Brisomel.Addin";
inline constexpr char kAddinDescription[] = "Brisomel COM Addin";
inline constexpr char kAddinHostApplication[] = "Outlook";
// Office's "load at start-up and connect" behaviour.
inline constexpr DWORD kAddinLoadBehavior = 3;
