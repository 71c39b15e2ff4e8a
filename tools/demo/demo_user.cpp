// Plays the user's part in the demo: the first start of the agent, the Setup dialog, closing the
// agent, reading the agent's messages, what the appointment's window shows while the user marks it
// from the ribbon; and tells which agent processes run. Prints what a user would see.
//   demo-user first-start <cadelo.exe> <my number> <first name> <last name>
//   demo-user read-boxes <seconds>
//   demo-user ribbon <Outlook simulator log> <seconds>
//   demo-user agents
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/settings_key.h"
#include "common/win/handles.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"

namespace {

constexpr char kAddinKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins\\Brisomel.Addin";
constexpr UINT kSetupCommand = 32771;

std::string Text(HWND w) {
  char buffer[2048] = {};
  GetWindowTextA(w, buffer, sizeof buffer);
  return buffer;
}

std::string ClassOf(HWND w) {
  char buffer[256] = {};
  GetClassNameA(w, buffer, sizeof buffer);
  return buffer;
}

using WindowTest = std::function<bool(HWND)>;

struct Search {
  const WindowTest* test;
  HWND hit;
};

BOOL CALLBACK Visit(HWND w, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if ((*search->test)(w)) {
    search->hit = w;
    return FALSE;
  }
  return TRUE;
}

// The first top-level window that passes the test, waiting up to timeoutMs for one.
HWND WaitForWindow(const WindowTest& test, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    Search search{&test, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    if (search.hit) return search.hit;
    Sleep(50);
  }
  return nullptr;
}

DWORD PidOf(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

std::string RegText(const char* name) {
  harness::RegValue v = harness::ReadValue(HKEY_CURRENT_USER, settings_key::kPath, name);
  if (!v.exists) return "(missing)";
  if (v.type == REG_DWORD && v.bytes.size() == 4) {
    DWORD n = 0;
    memcpy(&n, v.bytes.data(), 4);
    return std::to_string(n);
  }
  std::string s(v.bytes.begin(), v.bytes.end());
  return "\"" + s.substr(0, s.find('\0')) + "\"";
}

void PrintSettings() {
  for (const char* name : {settings_key::kHost, settings_key::kPort, settings_key::kMyNumber, settings_key::kFirstName,
                           settings_key::kLastName, settings_key::kProgramPath})
    std::printf("      %-10s %s\n", name, RegText(name).c_str());
}

// Message boxes of other programs (regsvr32's report) are read aloud and closed with OK.
void CloseForeignBoxes(DWORD exceptPid, int timeoutMs) {
  HWND box = WaitForWindow([&](HWND w) {
    return ClassOf(w) == "#32770" && IsWindowVisible(w) && PidOf(w) != exceptPid;
  }, timeoutMs);
  if (!box) return;
  std::printf("    a message box \"%s\" says: %s\n", Text(box).c_str(),
              Text(GetDlgItem(box, 0xFFFF)).c_str());
  SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
}

int FirstStart(const std::string& exe, const std::string& number, const std::string& first,
               const std::string& last) {
  std::printf("  the user starts %s\n", exe.c_str());
  harness::Process agent = harness::Process::Launch(exe, "\"" + exe + "\"");
  if (!agent.Started()) {
    std::printf("    cannot start it (error %lu)\n", agent.LaunchError());
    return 1;
  }
  HWND frame = WaitForWindow([&](HWND w) {
    return PidOf(w) == agent.Pid() && IsWindowVisible(w) && GetMenu(w) != nullptr;
  }, 20000);
  if (!frame) {
    std::printf("    its window did not appear\n");
    return 1;
  }
  std::printf("    its window \"%s\" is open\n", Text(frame).c_str());
  for (int waited = 0; waited < 20000 && !harness::KeyExists(HKEY_CURRENT_USER, kAddinKey);
       waited += 100) {
    Sleep(100);
  }
  CloseForeignBoxes(agent.Pid(), 3000);
  std::printf("    the add-in is %sregistered for Outlook (HKCU\\%s)\n",
              harness::KeyExists(HKEY_CURRENT_USER, kAddinKey) ? "" : "NOT ", kAddinKey);
  std::printf("    settings written at the first start:\n");
  PrintSettings();

  std::printf("  the user opens File > Setup and enters number %s, name %s %s\n", number.c_str(),
              first.c_str(), last.c_str());
  PostMessageA(frame, WM_COMMAND, kSetupCommand, 0);
  HWND setup = WaitForWindow([&](HWND w) {
    return PidOf(w) == agent.Pid() && ClassOf(w) == "#32770" && Text(w) == "Setup" &&
           IsWindowVisible(w);
  }, 10000);
  if (!setup) {
    std::printf("    the Setup dialog did not appear\n");
    return 1;
  }
  SetDlgItemTextA(setup, 1002, number.c_str());
  SetDlgItemTextA(setup, 1003, first.c_str());
  SetDlgItemTextA(setup, 1004, last.c_str());
  SendMessageA(GetDlgItem(setup, IDOK), BM_CLICK, 0, 0);
  for (int waited = 0; waited < 5000 && IsWindow(setup); waited += 50) Sleep(50);
  std::printf("    stored settings:\n");
  PrintSettings();

  std::printf("  the user closes the agent\n");
  PostMessageA(frame, WM_CLOSE, 0, 0);
  if (!agent.WaitForExit(15000)) {
    std::printf("    it did not end\n");
    return 1;
  }
  std::printf("    it ended with exit code %lu\n", agent.ExitCode());
  return 0;
}

// For a while, reads each box of the agent (caption "Brisomel") the moment it shows, and clicks
// OK two seconds later, as a user who comes back to the desk now and then would.
int ReadBoxes(int seconds) {
  std::map<HWND, ULONGLONG> open;  // box -> when to click OK
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (GetTickCount64() < end) {
    HWND box = nullptr;
    while ((box = FindWindowExA(nullptr, box, "#32770", "Brisomel")) != nullptr) {
      if (!IsWindowVisible(box) || open.count(box)) continue;
      open[box] = GetTickCount64() + 2000;
      std::string text = Text(GetDlgItem(box, 0xFFFF));
      for (size_t at; (at = text.find("\r\n\r\n")) != std::string::npos;) text.replace(at, 4, " ");
      for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " / ");
      const bool onTop = (GetWindowLongPtrA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      std::printf("   [user] a box of the agent%s: %s\n", onTop ? ", on top of Outlook" : "", text.c_str());
    }
    for (auto it = open.begin(); it != open.end();) {
      if (IsWindow(it->first) && GetTickCount64() < it->second) {
        ++it;
        continue;
      }
      if (IsWindow(it->first)) PostMessageA(it->first, WM_COMMAND, IDOK, 0);
      it = open.erase(it);
    }
    Sleep(50);
  }
  return 0;
}

// The clicks themselves are the Outlook simulator's script (it plays the window the user clicks
// in); this follows its log and tells what the window shows and what the user does, until the
// window closes.
int Ribbon(const char* logPath, int seconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  std::string seen;
  size_t done = 0;
  auto after = [](const std::string& line, const char* marker) -> std::string {
    const size_t at = line.find(marker);
    return at == std::string::npos ? std::string() : line.substr(at + std::strlen(marker));
  };
  while (GetTickCount64() < end) {
    win::FileHandle file(CreateFileA(logPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[4096];
    DWORD read = 0;
    seen.clear();
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) seen.append(buffer, read);
    size_t lineEnd;
    while ((lineEnd = seen.find('\n', done)) != std::string::npos) {
      const std::string line = seen.substr(done, lineEnd - done);
      done = lineEnd + 1;
      std::string value;
      if (line.rfind("Inspector#", 0) == 0 && line.find(" open") != std::string::npos) {
        std::printf("   [user] opens the appointment: its Appointment tab has the group \"Reminder call\"\n");
      } else if (!(value = after(line, "getPressed BrisomelReminderCall -> VT_BOOL ")).empty()) {
        std::printf("   [user] sees \"Call me at the reminder\" %s\n", value == "true" ? "pressed" : "not pressed");
      } else if (!(value = after(line, "getText BrisomelNumber -> ")).empty()) {
        std::printf("   [user] sees \"Number to call\": %s\n", value == "\"\"" ? "empty (my own number)" : value.c_str());
      } else if (!(value = after(line, "getEnabled BrisomelNumber -> VT_BOOL ")).empty()) {
        std::printf("   [user] sees \"Number to call\" %s\n", value == "true" ? "ready for typing" : "greyed");
      } else if (line.find("onAction BrisomelReminderCall") != std::string::npos) {
        std::printf("   [user] clicks \"Call me at the reminder\"\n");
      } else if (!(value = after(line, "onChange BrisomelNumber (")).empty()) {
        std::printf("   [user] types %s into \"Number to call\"\n", value.substr(0, value.find(')')).c_str());
      } else if (line.rfind("Inspector#", 0) == 0 && line.find(" close") != std::string::npos) {
        std::printf("   [user] clicks Save & Close\n");
        return 0;
      }
    }
    Sleep(50);
  }
  std::printf("   [user] the appointment's window did not close within %d seconds\n", seconds);
  return 1;
}

int Agents() {
  win::KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  std::vector<DWORD> pids;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, "cadelo.exe") == 0) pids.push_back(entry.th32ProcessID);
  }
  std::printf("%zu\n", pids.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "first-start" && argc == 6) return FirstStart(argv[2], argv[3], argv[4], argv[5]);
  if (command == "agents") return Agents();
  if (command == "read-boxes" && argc == 3) return ReadBoxes(std::atoi(argv[2]));
  if (command == "ribbon" && argc == 4) return Ribbon(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr,
               "usage: demo-user first-start <cadelo.exe> <my number> <first name> <last name>\n"
               "       demo-user read-boxes <seconds>\n"
               "       demo-user ribbon <Outlook simulator log> <seconds>\n"
               "       demo-user agents\n");
  return 2;
}
