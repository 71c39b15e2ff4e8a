#pragma once
// The process's open files, shared out once at the start. libre sizes its descriptor table once,
// by the limit in force when the SIP thread opens, and refuses every descriptor beyond it; each
// HTTP connection holds one descriptor. So the soft limit is raised once, to the hard limit but
// at most kMaxOpenFiles, and the SIP engine and the HTTP server both size themselves by that
// one figure.
#include <string>

namespace talmery {

class EventLog;

constexpr long kMaxOpenFiles = 65536;           // libre's table; more would only cost memory
constexpr unsigned kMaxHttpConnections = 4000;  // connections libmicrohttpd holds at most
constexpr unsigned kMinHttpConnections = 16;
constexpr long kFilesOfTheProcess = 128;        // the store, the log, listening sockets, libraries

struct OpenFiles {
  long limit = 0;                // the soft limit in force, and libre's table
  long lineFiles = 0;            // what the lines need at most: RTP, RTCP, the speech helper's pipes
  unsigned httpConnections = 0;  // connections the HTTP server takes at once
};

// How `limit` descriptors are shared by `lines` lines: each line's own first (4 a line, and 64
// for the SIP sockets), then kFilesOfTheProcess; of what is left, half for HTTP connections
// (within kMinHttpConnections and kMaxHttpConnections), half for connections to sip_port. False
// with the reason when the lines' own do not fit.
bool ShareOpenFiles(long limit, int lines, OpenFiles& share, std::string& error);

// Raises the soft limit to the hard one (at most kMaxOpenFiles) and shares it out as above.
// When the limit holds fewer than kMaxHttpConnections HTTP connections it says so in one line
// (event=files).
bool TakeOpenFiles(int lines, EventLog& log, OpenFiles& share, std::string& error);

}  // namespace talmery
