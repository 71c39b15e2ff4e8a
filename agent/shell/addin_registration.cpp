#include "agent/shell/addin_registration.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "agent/calls/settings_store.h"
#include "common/win/handles.h"
#include "agent/framework/message_box.h"
#include "agent/framework/win_app.h"
#include "agent/shell/addin_path.h"

namespace {

// Writes the value only when it does not exist; whatever exists (any type or size) stays.
void WriteIfMissing(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
  if (::RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND) return;
  ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

void WriteTextIfMissing(HKEY key, const char* name, const char* text) {
  WriteIfMissing(key, name, REG_SZ, text, static_cast<DWORD>(std::char_traits<char>::length(text) + 1));
}

// The full path of the running program, however long, in UTF-16: a folder such as
// C:\Users\<name> may hold characters that the ANSI code page lacks.
std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(AfxGetInstanceHandle(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try again with room to spare
  }
}

// The text of `path` as stored, or nothing when it cannot be read.
std::wstring StoredProgramPath(HKEY key) {
  wchar_t stored[2048] = {};
  DWORD size = sizeof stored - sizeof(wchar_t);  // room for a NUL the value may lack
  if (::RegQueryValueExW(key, L"path", nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return stored;
}

// Settings that IT deployed read-only are used as they are: the program still starts and works.
// Only a `path` that names another program (or none) matters, as the add-in starts what it names:
// the user is told once, with the system's reason.
void TellPathNotRecorded(LONG error) {
  AfxMessageBox("Cannot record the location of Brisomel in registry." + SystemErrorText(error), MB_OK, 0);
}

}  // namespace

int EnsureSettingsAndRegisterAddin() {
  const std::wstring program = ProgramPath();
  win::RegKey key;
  const LONG opened = ::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put());
  if (opened == ERROR_FILE_NOT_FOUND) {
    key.release();  // a failed open leaves no handle to close
    if (!CreateSettingsKey(&key)) return 0;
  } else if (opened != ERROR_SUCCESS) {
    key.release();
    win::RegKey readOnly;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_QUERY_VALUE, readOnly.put()) != ERROR_SUCCESS) {
      readOnly.release();
    }
    if (!readOnly || ::CompareStringOrdinal(StoredProgramPath(readOnly.get()).c_str(), -1, program.c_str(), -1,
                                            TRUE) != CSTR_EQUAL) {
      TellPathNotRecorded(opened);
    }
  }

  if (key) {
    WriteTextIfMissing(key.get(), "host", "localhost");
    const DWORD defaultPort = 8155;
    WriteIfMissing(key.get(), "port", REG_DWORD, &defaultPort, sizeof defaultPort);
    WriteTextIfMissing(key.get(), "mynumber", "");
    WriteTextIfMissing(key.get(), "firstname", "");
    WriteTextIfMissing(key.get(), "lastname", "");

    // The add-in reads this to start the program; renewed at every visible start.
    // The add-in reads it with the wide API too; the value stays REG_SZ.
    const LONG written =
        ::RegSetValueExW(key.get(), L"path", 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                         static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    if (written != ERROR_SUCCESS) TellPathNotRecorded(written);
  }

  // Quoted, so that a folder with blanks reaches regsvr32 as one argument. regsvr32 reports the
  // outcome in its own message box; it is not waited for.
  const std::wstring parameters = QuoteArgument(AddinPathBeside(program));
  ::ShellExecuteW(nullptr, L"open", L"regsvr32.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return 1;
}
