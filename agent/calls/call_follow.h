#pragma once
// Following an accepted reminder call, as plain text work: the gateway's JSON of the call read
// into a typed state, and a final state that did not reach the user turned into the words of
// the box. The follower (call_follower.*) only moves the bytes and keeps the time.
#include <cstdint>
#include <string>
#include <vector>

// One call as the gateway tells it (GET /calls/<id>).
struct CallState {
  std::string state;      // queued, dialling, answered, busy, no answer, temporary failure, done, failed, expired
  bool final = false;
  int attempts = 0, maxAttempts = 0;
  std::string reason;     // the gateway's words for people
  int askAgainSeconds = 0;      // when something new may be known (0: the gateway said nothing)
  long long followSeconds = 0;  // how long the call may still be unfinished, at most
  struct Try {
    std::string outcome, detail;
  };
  std::vector<Try> tries;  // in their order
};

// What an answer to GET /calls/<id> means for its follower.
enum class CallStateRead {
  State,  // `state` holds the call
  Stop,   // no call to follow: 404 (unknown, or not ours to read), or an answer that is not a
          // call's JSON (a gateway of an earlier version, a stand-in): stop, tell nothing
};
// httpStatus and body as the answer reader kept them. A body must be a JSON object with at least
// a string "state" and a boolean "final" (what an earlier gateway does not send); the other
// fields are taken when they are of their type.
CallStateRead ReadCallState(int httpStatus, const std::string& body, CallState& state);

// Why a final call did not reach the user, in plain words: "not answered after 3 tries", "busy",
// "it was left on voicemail", "the telephone system refused it: 404 Not Found", ... Empty for a
// call that was delivered (answered and heard, or confirmed) and for one not final yet.
std::string UndeliveredWords(const CallState& call);
constexpr char kLeftOnVoicemailWords[] = "it was left on voicemail";

// The box's text for one call that did not reach the user: what the reminder was (its subject
// and start, as the user's clock shows it), the number called and why.
std::string UndeliveredNotice(const std::string& subject, const std::string& start, const std::string& number,
                              const std::string& why);

// The pace of following: the first question soon after the call was due (it is due at once),
// then when the gateway says something new may be known, else every kFollowEverySeconds; never
// past what the gateway said the call may take, nor, before it said anything, kFollowAtMostSeconds.
constexpr long long kFirstAskSeconds = 5;
constexpr long long kFollowEverySeconds = 30;
constexpr long long kFollowAtMostSeconds = 24 * 3600;
constexpr long long kFollowUnheardSeconds = 2 * 3600;  // when the gateway has not answered yet

// One call followed: where to ask, what to ask with, what to tell, and when (wall clock, ms since
// 1970).
struct FollowedCall {
  std::string host;
  uint16_t port = 0;
  std::string requestId, token;
  std::string subject, start, number;  // for the box
  long long nextMs = 0;                // when to ask next
  long long untilMs = 0;               // when to give up
};

// What one question came to, for the follower.
struct FollowStep {
  bool done = false;   // nothing more to ask
  std::string tell;    // with done: the box's text, or empty (delivered, not ours, not a gateway that tells)
  // What the user may read of the call now: "delivered", why it was not, the gateway's state
  // while it goes on, or "not known" when the gateway does not tell.
  std::string outcome;
};
// Takes the answer (reached: an answer came, with its status and body; else the gateway was not
// reached) at nowMs and moves `call` on: its nextMs and untilMs, or done. A call left only on a
// mailbox is told when tellVoicemail (the user's voicemailnotice setting), else only listed.
FollowStep NextFollowStep(FollowedCall& call, bool reached, int httpStatus, const std::string& body, long long nowMs,
                          bool tellVoicemail = true);

// A followed call as one line of text (for the hand-over to the next agent), and back; false for
// a line that is not one.
std::string FollowedCallText(const FollowedCall& call);
bool ParseFollowedCall(const std::string& text, FollowedCall& call);

// One call of this session as the visible window lists it.
struct RecentCall {
  std::string start, subject, number, outcome;
  long long noticedMs = 0;  // when its outcome was last noted: the list's order
};
// The list below the settings: empty without calls, else a blank line, a heading and a line per
// call ("    2026-12-11 14:30  Dentist, 5550186: busy"), the newest last; lines end in CR LF but
// the last.
std::string ComposeRecentCallsText(const std::vector<RecentCall>& calls);
// A recent call as one line of text (for the registry), and back.
std::string RecentCallText(const RecentCall& call);
bool ParseRecentCall(const std::string& text, RecentCall& call);

// "2026-12-11 14:30" for an OLE date (local time), as the box names the appointment's start.
std::string StartText(double oleDate);
