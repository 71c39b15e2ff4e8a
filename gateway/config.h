#pragma once
// The gateway's settings: one file of "key = value" lines (sections such as [sip] prefix their
// keys; '#' starts a comment at the start of a line or after a blank; a value in double quotes
// is taken as written, with \" and \\ for a quote and a backslash), then the command line on
// top. Parsing is pure so that every rule is tested natively.
#include <cstddef>
#include <string>
#include <vector>

#include "gateway/addresses.h"
#include "gateway/listener.h"

namespace talmery {

enum class DialMode { Sip, Speaker };

// What a call answered by a machine (a mailbox) does: leaves its message once after the
// greeting, hangs up without one (not delivered, not tried again), or hangs up to try again.
enum class Voicemail { Leave, HangUp, Retry };

constexpr size_t kMaxPasswordBytes = 63;  // longer is a paste gone wrong, not a PBX password

struct SipSettings {
  std::string user = "talmery";      // the From user of our calls
  std::string domain;                // registrar / PBX host[:port]; empty: no PBX (loopback tests)
  std::string authUser;              // digest user name; empty: the user
  std::string realm;                 // the PBX's digest realm; empty: any realm of the PBX's hosts
  std::string password;              // never logged, never shown
  std::string outboundProxy;         // e.g. sip:pbx.example.com;transport=udp
  int registerSeconds = 0;           // 0: no registration (calls are authenticated one by one)
  int registerRetry = 60;            // seconds after a refused registration; doubles up to 1800
  std::string dial;                  // template with {number}; default sip:{number}@<domain>
  std::string localAddress = "127.0.0.1";
  int sipPort = 5080;                // SIP over UDP and TCP (or TLS alone), for all calls and registration
  int rtpPortFirst = 10000;          // each call's RTP (even) and RTCP (the port above) within
  int rtpPortLast = 10999;
  std::string codecs = "PCMU,PCMA";  // offered in this order (G.711 only)
  std::string transport;             // empty: as each URI says (UDP unless it names tcp); tls: SIP over TLS
  std::string tlsCaFile;             // the PBX's certificate authority (PEM); empty: the system's store
  bool tlsVerify = true;             // no: any certificate is taken (a PBX with a self-signed one)
  std::string tlsCertificate;        // ours and its key (PEM), for connections the PBX opens to us
  bool srtp = false;                 // media as SRTP, keyed by SDES in the SDP (needs TLS)
  int tcpIdleMs = 50000;             // not a setting: a connection to sip_port idle this long is closed
};

// Whether the gateway speaks SIP over TLS to the PBX: transport = tls, or a sips: (or
// transport=tls) outbound proxy.
bool UsesTls(const SipSettings& sip);
// `uri` as libre must see it to choose the transport: with TLS, sips:X becomes
// sip:X;transport=tls; a URI that names no transport gets the one of sip.transport (none when
// that is empty: libre's UDP).
std::string TransportUri(const SipSettings& sip, const std::string& uri);

struct Config {
  std::string listenHost = "127.0.0.1";
  int listenPort = 8155;
  // HTTPS on `listen` when both are set (PEM: the certificate with its chain, and its key,
  // readable by the service user alone).
  std::string tlsCertificate;
  std::string tlsKey;
  // A second listener in clear, for agents not moved to HTTPS yet; only beside TLS. Port -1: none.
  std::string listenPlainHost;
  int listenPlainPort = -1;
  bool Https() const { return !tlsCertificate.empty(); }
  // A SQLite file, or a postgresql:// URI: the store shared by several gateways (nodes).
  std::string database = "/var/lib/talmery-gateway/calls.db";
  std::string spool;                 // speech files and line folders; empty: beside the database
  std::string node;                  // this gateway's name among the nodes of one database; empty: the host name
  int leaseSeconds = 30;             // a node silent this long has its calls in progress closed by another
  DialMode mode = DialMode::Sip;
  std::string speakerDir;            // speaker mode: where each call's speech is written

  int maxCalls = 4;                  // calls at once
  int attempts = 3;                  // tries for busy / no answer
  int retryPause = 60;               // seconds between tries
  int maxWait = 60;                  // minutes a call may wait to be placed before it expires
  int ringTime = 30;                 // seconds a phone may ring
  int maxCallTime = 600;             // seconds from the answer to our own hang-up
  int maxMessageSeconds = 60;        // one saying of the text at most (longer: cut at a sentence)
  int repeat = 2;                    // times the text is spoken
  // The default is the voice a listener understands best over a call (tools/bench-speech.sh);
  // espeak-ng's voices stay for the languages flite lacks.
  std::string voice = "flite:rms";
  int speechRate = 130;              // words per minute: the pace best heard over a telephone line
  bool confirm = false;              // the callee presses 1 to confirm; else the call is tried again
  // How the callee's answer is heard before the message (the listen_* settings, milliseconds;
  // listen_words is a count): who answered, and when the line may speak.
  ListenTimings listening;

  // A mailbox, and the callee's key 2 (the call again later).
  Voicemail voicemail = Voicemail::Leave;
  int snoozeMinutes = 5;             // key 2: the call is placed again this much later
  int snoozes = 2;                   // times a call may be put off so, at most

  bool showText = false;             // the status page, JSON and --list show call texts
  int pageRefresh = 10;              // seconds
  int pageCalls = 100;               // rows on the page and in --list
  int httpThreads = 16;
  int requestSeconds = 10;           // a whole request (head and body) must arrive in this time

  // Who may post calls, to which numbers, and how many (see addresses.h, number_patterns.h, admission.h and the README).
  std::vector<AddressBlock> clients; // empty: anyone who reaches `listen` (loopback only)
  bool clientsSet = false;
  std::vector<std::string> numbers;  // glob patterns; empty: every number
  int clientRate = 300;              // accepted calls per client address per minute; 0: no limit
  int dailyCalls = 10000;            // accepted calls per 24 hours in all; 0: no limit
  int maxQueued = 1000;              // calls waiting at once; 0: no limit
  int clientConnections = 64;        // connections open at once per client address
  int agentCodePage = 1252;          // the code page of a request that names no charset
  std::vector<AddressBlock> metricsClients = LoopbackBlocks();  // who may read /metrics; empty: nobody

  SipSettings sip;

  std::string DialTemplate() const;  // sip.dial, or its default
  std::string SpoolDir() const;
  // Whether `database` is a PostgreSQL URI (postgresql:// or postgres://), shared by nodes.
  bool SharedStore() const;
  // `node`, or the host name when it is not set.
  std::string NodeName() const;
};

// Why a PostgreSQL URI cannot be used as the store ("" when it can): a password in it (as
// user:password@ or a password parameter) would sit in the settings file.
std::string UriProblem(const std::string& uri);
extern const char kPasswordInUri[];

// Applies the text of a config file to `config`. False with "line N: reason" on the first
// error; unknown keys are errors, so that a misspelt setting is not silently ignored.
bool ParseConfigText(const std::string& text, Config& config, std::string& error);
bool LoadConfigFile(const std::string& path, Config& config, std::string& error);

// Checks the combination of settings (after the file and the command line).
bool ValidateConfig(const Config& config, std::string& error);

struct CommandLine {
  std::string configPath;            // empty: the default file if it exists
  bool list = false;
  int listCount = 0;                 // 0: the configured page size
  bool help = false;
  // Overrides, applied after the file.
  std::string listen, database, speakerDir;
};

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);
// Applies the overrides of the command line.
bool ApplyCommandLine(const CommandLine& line, Config& config, std::string& error);
const char* Usage();

constexpr char kDefaultConfigPath[] = "/etc/talmery-gateway/talmery-gateway.conf";

}  // namespace talmery
