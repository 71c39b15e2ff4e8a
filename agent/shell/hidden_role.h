#pragma once
// The hidden agent's role: one hidden agent per logon session serves Outlook, two would each call
// the same reminder. The role is the session's mutex Local\Brisomel.HiddenAgent; but any process
// may hold that name (a squatter, an earlier agent that hangs), so a held role is only taken as
// served when its holder proves within a second that it is a live agent serving this Outlook:
// it answers a private request on a message-only window of its own, from the moment it holds the
// role (while it still connects to an Outlook that keeps it waiting, too). Whatever does not
// answer so is taken over.
#include <windows.h>

#include <cstdint>
#include <functional>

enum class HiddenRole {
  Claimed,      // the role is this agent's
  Served,       // a live agent serves this Outlook: this one ends without a word
  TakenOver,    // the role is held by something that does not serve Outlook: this agent serves
};

// Claims the role for the rest of the process; an agent that is itself ending (ended with its
// Outlook a moment ago) is waited for briefly. outlookPid names the Outlook to be served (0 when
// unknown).
HiddenRole ClaimHiddenAgentRole(uint32_t outlookPid);

// The answering end, for the agent that holds the role: a message-only window on the calling
// thread (the user-interface thread, so a hung agent does not answer; its waits while it
// connects still answer). serves(pid) tells whether this agent serves, or is connecting to, the
// Outlook of that id (0: any). The window lives until the object goes.
class HiddenRoleAnswer {
 public:
  using Serves = std::function<bool(uint32_t outlookPid)>;
  explicit HiddenRoleAnswer(Serves serves) : serves_(std::move(serves)) {}
  ~HiddenRoleAnswer();
  HiddenRoleAnswer(const HiddenRoleAnswer&) = delete;
  HiddenRoleAnswer& operator=(const HiddenRoleAnswer&) = delete;

  bool Create();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  Serves serves_;
  HWND window_ = nullptr;
};

// What the user is told when the agent takes over a role that something else holds.
extern const char kRoleTakenOver[];
