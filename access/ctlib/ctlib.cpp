// The facade calls that differ from FreeTDS: per-connection message queues behind ct_diag,
// ct_debug tracing, the directory-service lookup over the interfaces file, locale and
// configuration values FreeTDS ignores, and interfaces-file name resolution with TDS 5.0 pinned.

#include "access/ctlib/ctlib.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

// A found directory object: one server entry of the interfaces file.
struct _cs_ds_object {
  ctlib::ServerEntry entry;
  CS_CONNECTION* owner = nullptr;
};

namespace ctlib {
namespace {

// A property value as it was set: an integer (CS_UNUSED length), a text or raw bytes.
struct Kept {
  std::vector<char> bytes;
  bool isText = false;
};

struct ContextState {
  std::map<CS_INT, Kept> config;
  std::map<CS_INT, void*> callbacks;
  CS_INT maxConnect = 25;
  std::string ifile;
};

struct ConnectionState {
  CS_CONTEXT* ctx = nullptr;
  bool inlineMode = false;
  std::deque<CS_SERVERMSG> server;
  std::deque<CS_CLIENTMSG> client;
  CS_INT serverLimit = CS_NO_LIMIT;
  CS_INT clientLimit = CS_NO_LIMIT;
  std::map<CS_INT, Kept> props;
  std::map<CS_INT, void*> callbacks;
  bool addressSetByCaller = false;
  bool connected = false;
  bool connecting = false;
  std::string serverName;
  std::set<CS_DS_OBJECT*> objects;
  // The command whose results are still to be read: FreeTDS would accept a second send on
  // the connection and hand its rows to the wrong command, so the facade refuses it.
  CS_COMMAND* pending = nullptr;
  // A statement outlived the query timeout: an attention went to the server and the call
  // that was waiting fails with the timeout text once the server has acknowledged it.
  bool timedOut = false;
  // The command whose ct_results, ct_fetch or ct_get_data is waiting for the server.
  CS_COMMAND* waiting = nullptr;
};

struct LocaleState {
  std::string language = "us_english";
  std::string charset = "utf8";
  std::string sortOrder = "binary";
};

// All facade state sits behind one mutex. It is never held across a call into FreeTDS or a
// caller's callback, so a message callback that fires inside FreeTDS can always take it.
std::mutex g_mutex;
std::unordered_map<CS_CONTEXT*, ContextState> g_contexts;
std::unordered_map<CS_CONNECTION*, std::unique_ptr<ConnectionState>> g_connections;
std::unordered_map<CS_LOCALE*, LocaleState> g_locales;
std::set<CS_DS_OBJECT*> g_objects;
std::unordered_map<CS_COMMAND*, CS_CONNECTION*> g_commands;
// The language text of each command, for what FreeTDS cannot answer about its results.
struct CommandText {
  std::string text;
  bool more = false;  // the last piece came with CS_MORE
  CS_INT lastResult = 0;  // the result type ct_results gave last
  int single = -1;        // whether the text holds one SELECT: 1, 0, or -1 until known
  // The COMPUTE clauses of each result set the text foresees (ComputeClausesOfResultSets),
  // worked out at the first question about them.
  bool computesKnown = false;
  std::vector<int> computes;
  // The run since the last ct_send: the result set being read (0-based, -1 before the first),
  // whether its rows are still coming, and whether a statement failed before it (a failed
  // statement may be a SELECT whose result set never came, so later ones cannot be told).
  int resultSet = -1;
  bool inResultSet = false;
  bool statementFailed = false;
};
std::unordered_map<CS_COMMAND*, CommandText> g_commandTexts;
// Commands that declared a cursor: FreeTDS keeps the cursor's state on the command until its
// deallocation is sent, so a connection closed under it would leave that state behind.
std::set<CS_COMMAND*> g_cursorCommands;
// Of those, the ones whose declare has not been sent yet (a send would still carry it).
std::set<CS_COMMAND*> g_unsentDeclares;
std::atomic<CS_INT> g_requestId{0};

Library g_freetds;
std::atomic<Library*> g_current{nullptr};

// ct_debug's trace file and flags (process-wide, as in Client-Library).
std::mutex g_traceMutex;
FILE* g_traceFile = nullptr;
CS_INT g_traceFlags = 0;
std::atomic<bool> g_traceOn{false};

constexpr CS_INT kKnownDebugFlags = CS_DBG_ALL | CS_DBG_ASYNC | CS_DBG_ERROR | CS_DBG_MEM | CS_DBG_PROTOCOL |
                                    CS_DBG_PROTOCOL_STATES | CS_DBG_API_STATES | CS_DBG_DIAG | CS_DBG_NETWORK;

// libtds reports its own errors (numbers 20000 and up) with its EX* severities, where the
// "server name not found" and "unknown host" failures carry EXUSER (2): inline handling
// would count those as harmless. They are mapped to the Client-Library CS_SV_* scale.
CS_INT MapLibTdsSeverity(CS_INT severity) {
  switch (severity) {
    case 1:
      return CS_SV_INFORM;  // EXINFO
    case 2:
      return CS_SV_CONFIG_FAIL;  // EXUSER: bad server name, unknown host
    case 3:
      return CS_SV_RETRY_FAIL;  // EXNONFATAL
    case 4:
      return CS_SV_RESOURCE_FAIL;  // EXCONVERSION: characters lost in conversion
    case 5:
      return CS_SV_COMM_FAIL;  // EXSERVER
    case 6:
      return CS_SV_RETRY_FAIL;  // EXTIME
    case 7:
      return CS_SV_API_FAIL;  // EXPROGRAM: results pending and the like
    case 8:
      return CS_SV_RESOURCE_FAIL;  // EXRESOURCE
    case 9:
      return CS_SV_COMM_FAIL;  // EXCOMM
    case 10:
      return CS_SV_FATAL;  // EXFATAL
    default:
      return CS_SV_INTERNAL_FAIL;  // EXCONSISTENCY
  }
}

// The system freetds.conf of the FreeTDS build in use (Debian's packages).
#ifndef TABULON_FREETDS_SYSCONF
#define TABULON_FREETDS_SYSCONF "/etc/freetds/freetds.conf"
#endif
constexpr const char* kFreeTdsSystemConf = TABULON_FREETDS_SYSCONF;
// The interfaces file FreeTDS reads last when SYBASE is unset (a path built into it).
constexpr const char* kFreeTdsSystemInterfaces = "/etc/freetds/interfaces";

constexpr CS_INT kLibTdsFirst = 20000;
constexpr CS_INT kLibTdsLast = 20999;
constexpr CS_INT kLibTdsTimeout = 20003;         // TDSETIME
constexpr CS_INT kLibTdsServerNotFound = 20012;  // TDSEINTF

ConnectionState* FindConnection(CS_CONNECTION* con) {
  auto it = g_connections.find(con);
  return it == g_connections.end() ? nullptr : it->second.get();
}

void* ContextCallback(CS_CONTEXT* ctx, CS_INT type) {
  auto it = g_contexts.find(ctx);
  if (it == g_contexts.end()) return nullptr;
  auto cb = it->second.callbacks.find(type);
  return cb == it->second.callbacks.end() ? nullptr : cb->second;
}

void* ConnectionCallback(ConnectionState* cs, CS_INT type) {
  auto cb = cs->callbacks.find(type);
  return cb == cs->callbacks.end() ? nullptr : cb->second;
}

template <class Msg>
void Push(std::deque<Msg>& queue, CS_INT limit, const Msg& msg) {
  if (limit != CS_NO_LIMIT && limit >= 0 && static_cast<CS_INT>(queue.size()) >= limit) return;
  queue.push_back(msg);
}

// Server messages of every connection land here (installed on each connection and on each
// context), and go into that connection's own queue: FreeTDS would share one queue per context.
CS_RETCODE ServerMessageHook(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_SERVERMSG* msg) {
  void* forward = nullptr;
  {
    std::lock_guard lock(g_mutex);
    ConnectionState* cs = con ? FindConnection(con) : nullptr;
    if (cs && cs->inlineMode) {
      Push(cs->server, cs->serverLimit, *msg);
    } else {
      if (cs) forward = ConnectionCallback(cs, CS_SERVERMSG_CB);
      if (!forward) forward = ContextCallback(ctx, CS_SERVERMSG_CB);
    }
  }
  if (forward) return reinterpret_cast<CS_SERVERMSG_FUNC>(forward)(ctx, con, msg);
  return CS_SUCCEED;
}

CS_RETCODE ClientMessageHook(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_CLIENTMSG* msg) {
  CS_CLIENTMSG mapped = *msg;
  if (mapped.msgnumber >= kLibTdsFirst && mapped.msgnumber <= kLibTdsLast)
    mapped.severity = MapLibTdsSeverity(mapped.severity);
  void* forward = nullptr;
  enum { kNone, kLogin, kStatement, kUnanswered } timeout = kNone;
  CS_COMMAND* waiting = nullptr;
  {
    std::lock_guard lock(g_mutex);
    ConnectionState* cs = con ? FindConnection(con) : nullptr;
    if (cs && cs->inlineMode) {
      const bool isTimeout = msg->msgnumber == kLibTdsTimeout;
      if (isTimeout && cs->connecting) {
        timeout = kLogin;
      } else if (isTimeout && cs->timedOut) {
        timeout = kUnanswered;
      } else if (isTimeout) {
        timeout = kStatement;
        cs->timedOut = true;
        waiting = cs->waiting;
      }
      // A statement timeout is reported by the failing call with a text of its own.
      if (timeout == kNone || timeout == kLogin) Push(cs->client, cs->clientLimit, mapped);
    } else {
      if (cs) forward = ConnectionCallback(cs, CS_CLIENTMSG_CB);
      if (!forward) forward = ContextCallback(ctx, CS_CLIENTMSG_CB);
    }
  }
  if (forward) return reinterpret_cast<CS_CLIENTMSG_FUNC>(forward)(ctx, con, &mapped);
  switch (timeout) {
    case kStatement:
      // Failing the timeout would make libtds close the socket. Instead the wait goes on (CS_SUCCEED)
      // with an attention flagged for the server: libtds sends it from its read loop, the server
      // stops the statement and acknowledges, and the waiting ct_results or ct_fetch returns
      // CS_CANCELED, which the facade turns into the timeout failure. The connection stays usable.
      // The attention goes for the waiting command only: one for the connection would mark
      // every sent command of it (an open cursor too) cancelled.
      if (waiting)
        ::ct_cancel(nullptr, waiting, CS_CANCEL_ATTN);
      else
        ::ct_cancel(con, nullptr, CS_CANCEL_ATTN);
      return CS_SUCCEED;
    case kUnanswered:
      // The server did not acknowledge the attention within a further timeout: give up the
      // connection rather than wait forever.
      return CS_FAIL;
    case kLogin:
      return CS_FAIL;  // a login that times out fails
    default:
      return CS_SUCCEED;
  }
}

// The text of the client message a statement fails with when it outlived the query timeout.
std::string TimeoutText(const char* call) {
  return std::string(call) + "(): user api layer: internal Client Library error: Read from the server has timed out.";
}

// The text of the client message for a send refused while another command has results pending.
constexpr const char* kResultsPendingText =
    "ct_send(): user api layer: external error: This routine cannot be called because another command "
    "structure has results pending. Read its results to the end or cancel it first.";

// Reports that Call was refused because Pending still has results to read; queued (or handed to
// the caller's callback) like any client message, as an error the diagnostics raise.
void ReportResultsPending(CS_CONTEXT* ctx, CS_CONNECTION* con, const char* call) {
  CS_CLIENTMSG m{};
  m.severity = CS_SV_CONFIG_FAIL;
  m.msgnumber = (1 << 24) | (1 << 16) | (CS_SV_CONFIG_FAIL << 8) | 163;
  std::string text = kResultsPendingText;
  if (std::strcmp(call, "ct_send") != 0) text.replace(0, 7, call);
  std::snprintf(m.msgstring, sizeof m.msgstring, "%s", text.c_str());
  m.msgstringlen = static_cast<CS_INT>(std::strlen(m.msgstring));
  ClientMessageHook(ctx, con, &m);
}

// Reports that Call was given a value its Parameter cannot take (a negative row count or text
// size, an isolation level above 3), as Client-Library does: an error the diagnostics report,
// never a refusal nobody hears of.
void ReportIllegalValue(CS_CONNECTION* con, const char* call, CS_INT value, const char* parameter) {
  CS_CONTEXT* ctx = nullptr;
  {
    std::lock_guard lock(g_mutex);
    if (ConnectionState* cs = FindConnection(con)) ctx = cs->ctx;
  }
  CS_CLIENTMSG m{};
  m.severity = CS_SV_CONFIG_FAIL;
  m.msgnumber = (1 << 24) | (1 << 16) | (CS_SV_CONFIG_FAIL << 8) | 4;
  std::snprintf(m.msgstring, sizeof m.msgstring,
                "%s(): user api layer: external error: An illegal value of %d was given for parameter %s.",
                call, static_cast<int>(value), parameter);
  m.msgstringlen = static_cast<CS_INT>(std::strlen(m.msgstring));
  ClientMessageHook(ctx, con, &m);
}

// Copies a kept value into a caller's buffer the way Client-Library GETs do.
CS_RETCODE CopyKept(const Kept& kept, CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  if (!buffer) return CS_FAIL;
  const CS_INT size = static_cast<CS_INT>(kept.bytes.size());
  if (!kept.isText) {
    const CS_INT room = buflen == CS_UNUSED || buflen <= 0 ? static_cast<CS_INT>(sizeof(CS_INT)) : buflen;
    std::memcpy(buffer, kept.bytes.data(), std::min(size, room));
    if (outlen) *outlen = size;
    return size <= room ? CS_SUCCEED : CS_FAIL;
  }
  if (outlen) *outlen = size;
  if (buflen <= 0) return CS_FAIL;
  const CS_INT n = std::min(size, buflen - 1);
  std::memcpy(buffer, kept.bytes.data(), n);
  static_cast<char*>(buffer)[n] = '\0';
  return size < buflen ? CS_SUCCEED : CS_FAIL;
}

// A value as a caller passes it: CS_UNUSED length for an integer, CS_NULLTERM for a text.
Kept MakeKept(const CS_VOID* buffer, CS_INT buflen) {
  Kept kept;
  if (!buffer) return kept;
  if (buflen == CS_UNUSED) {
    kept.bytes.resize(sizeof(CS_INT));
    std::memcpy(kept.bytes.data(), buffer, sizeof(CS_INT));
  } else {
    const char* p = static_cast<const char*>(buffer);
    const size_t n =
        buflen == CS_NULLTERM ? std::strlen(p) : static_cast<size_t>(std::max<CS_INT>(buflen, 0));
    kept.bytes.assign(p, p + n);
    kept.isText = true;
  }
  return kept;
}

// A text argument: up to the NUL with CS_NULLTERM; with a length, that many bytes but never
// past a NUL among them (callers pass their buffer's size, 1025 for a file name, with the
// text NUL-terminated inside it).
std::string TextArg(const CS_CHAR* text, CS_INT len) {
  if (!text) return std::string();
  if (len == CS_NULLTERM) return std::string(text);
  if (len <= 0) return std::string();
  return std::string(text, strnlen(text, static_cast<size_t>(len)));
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Without locales.dat the facade knows the locale names of the family itself: the character
// sets and languages of its locale files, the sort orders of its charsets directory.
bool ValidCharset(const std::string& name) {
  static const std::set<std::string> known = {
      "ascii_8",  "big5",     "cp437",    "cp850",    "cp852",  "cp855",    "cp857",   "cp858",    "cp860",
      "cp864",    "cp866",    "cp869",    "cp874",    "cp932",  "cp936",    "cp949",   "cp950",    "cp1250",
      "cp1251",   "cp1252",   "cp1253",   "cp1254",   "cp1255", "cp1256",   "cp1257",  "cp1258",   "deckanji",
      "eucgb",    "eucjis",   "eucksc",   "gb18030",  "greek8", "iso_1",    "iso15",   "iso88592", "iso88595",
      "iso88596", "iso88597", "iso88598", "iso88599", "koi8",   "mac",      "mac_cyr", "mac_ee",   "macgrk2",
      "macturk",  "roman8",   "roman9",   "sjis",     "tis620", "turkish8", "utf8",    "utf16"};
  if (name.empty() || name.size() > 30) return false;
  if (known.count(Lower(name))) return true;
  // Names FreeTDS itself accepts as client charsets ("UTF-8", "ISO-8859-1") are iconv names.
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

bool ValidLanguage(const std::string& name) {
  static const std::set<std::string> known = {
      "us_english", "chinese",    "tchinese",  "french", "german",  "japanese", "korean",
      "polish",     "portuguese", "spanish",   "thai",   "czech",   "italian",  "russian",
      "swedish",    "dutch",      "hungarian", "greek",  "turkish", "arabic",   "hebrew"};
  return known.count(Lower(name)) > 0;
}

bool ValidSortOrder(const std::string& name) {
  static const std::set<std::string> known = {
      "binary",    "dictionary", "nocase",   "nocasepref", "noaccents", "espdict",  "espnocs",   "espnoac",
      "scandict",  "scannocp",   "scannoac", "cyrdict",    "cyrnocs",   "elldict",  "hundict",   "hunnoac",
      "hunnocs",   "polish",     "turdict",  "turnoac",    "turnocs",   "utf8bin",  "altdict",   "altnoacc",
      "altnocsp",  "dict",       "nocs",     "noac",       "gbpinyin",  "cp850bin", "bin_iso_1", "bin_cp850",
      "bin_cp437", "bin_utf8",   "bin_sjis", "bin_eucjis", "bin_eucgb", "bin_big5", "bin_cp1252"};
  return known.count(Lower(name)) > 0;
}

void CopyText(const std::string& text, CS_VOID* buffer, CS_INT buflen, CS_INT* outlen, CS_RETCODE& rc) {
  const CS_INT need = static_cast<CS_INT>(text.size()) + 1;
  if (outlen) *outlen = need;
  if (!buffer || buflen < need) {
    rc = CS_FAIL;
    return;
  }
  std::memcpy(buffer, text.c_str(), static_cast<size_t>(need));
  rc = CS_SUCCEED;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> Tokens(const std::string& line, const char* seps) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    i = line.find_first_not_of(seps, i);
    if (i == std::string::npos) break;
    size_t j = line.find_first_of(seps, i);
    if (j == std::string::npos) j = line.size();
    out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

// The "tli tcp /dev/tcp \x0002PPPPAABBCCDD" address form: port and IPv4 address in hex.
bool ParseTliAddress(const std::string& hex, ServerEntry& entry) {
  std::string h = hex;
  if (h.rfind("\\x", 0) == 0) h = h.substr(2);
  if (h.size() < 16) return false;
  auto byte = [&](size_t pos) {
    return static_cast<int>(std::strtol(h.substr(pos, 2).c_str(), nullptr, 16));
  };
  entry.port = byte(4) * 256 + byte(6);
  entry.host = std::to_string(byte(8)) + "." + std::to_string(byte(10)) + "." + std::to_string(byte(12)) +
               "." + std::to_string(byte(14));
  return entry.port > 0;
}

}  // namespace

Library& Current() {
  Library* lib = g_current.load(std::memory_order_acquire);
  return lib ? *lib : g_freetds;
}

Library* SetCurrent(Library* library) {
  Library* previous =
      g_current.exchange(library == &g_freetds ? nullptr : library, std::memory_order_acq_rel);
  return previous;
}

std::vector<ServerEntry> ReadInterfacesFile(const std::string& path) {
  std::vector<ServerEntry> entries;
  if (path.empty()) return entries;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return entries;
  std::set<std::string> seen;
  ServerEntry* current = nullptr;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, f)) {
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
    const bool indented = line[0] == ' ' || line[0] == '\t';
    if (!indented && trimmed.front() == '[') {
      // SQL.INI layout: [NAME] then query=TCP,host,port
      const auto close = trimmed.find(']');
      const std::string name =
          Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      current = nullptr;
      if (!name.empty() && seen.insert(name).second) {
        entries.push_back(ServerEntry{name, "", 0});
        current = &entries.back();
      }
      continue;
    }
    if (!indented && trimmed.find('=') == std::string::npos) {
      // interfaces layout: the server name starts in the first column (an optional retry
      // count and delay may follow it).
      const std::string name = Tokens(trimmed, " \t").front();
      current = nullptr;
      if (seen.insert(name).second) {
        entries.push_back(ServerEntry{name, "", 0});
        current = &entries.back();
      }
      continue;
    }
    if (!current || current->port > 0) continue;
    if (const auto eq = trimmed.find('='); eq != std::string::npos) {
      if (Lower(Trim(trimmed.substr(0, eq))) != "query") continue;
      const auto fields = Tokens(trimmed.substr(eq + 1), ",");
      if (fields.size() >= 3) {
        current->host = Trim(fields[1]);
        current->port = std::atoi(Trim(fields[2]).c_str());
      }
      continue;
    }
    const auto fields = Tokens(trimmed, " \t");
    if (fields.size() < 2 || fields[0] != "query") continue;
    if (fields[1] == "tli" && fields.size() >= 5) {
      ParseTliAddress(fields[4], *current);
    } else if (fields.size() >= 5) {  // query tcp ether HOST PORT
      current->host = fields[3];
      current->port = std::atoi(fields[4].c_str());
    } else if (fields.size() == 4) {  // query tcp HOST PORT
      current->host = fields[2];
      current->port = std::atoi(fields[3].c_str());
    }
  }
  std::fclose(f);
  return entries;
}

std::vector<std::string> ReadFreeTdsConfSections(const std::string& path) {
  std::vector<std::string> names;
  if (path.empty()) return names;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return names;
  std::set<std::string> seen;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, f)) {
    const std::string trimmed = Trim(buf);
    if (trimmed.empty() || trimmed[0] != '[') continue;
    const auto close = trimmed.find(']');
    if (close == std::string::npos) continue;
    // FreeTDS compares section names without case and with runs of blanks as one.
    std::string name;
    for (const std::string& word : Tokens(trimmed.substr(1, close - 1), " \t"))
      name += (name.empty() ? "" : " ") + word;
    if (name.empty() || Lower(name) == "global" || !seen.insert(Lower(name)).second) continue;
    names.push_back(name);
  }
  std::fclose(f);
  return names;
}

std::vector<std::string> FreeTdsConfFiles() {
  // The file named by FREETDSCONF is the configuration in use; without it FreeTDS searches
  // $FREETDS/etc/freetds.conf, ~/.freetds.conf and the system file, in this order.
  if (const char* named = std::getenv("FREETDSCONF"); named && *named) return {named};
  std::vector<std::string> files;
  if (const char* root = std::getenv("FREETDS"); root && *root) files.push_back(std::string(root) + "/etc/freetds.conf");
  if (const char* home = std::getenv("HOME"); home && *home) files.push_back(std::string(home) + "/.freetds.conf");
  files.push_back(kFreeTdsSystemConf);
  return files;
}

std::string FreeTdsNamesFile() {
  // FreeTDS tries each configuration file in turn (a file FREETDSCONF names that cannot be
  // read does not stop the search), then its interfaces files.
  std::vector<std::string> files;
  if (const char* named = std::getenv("FREETDSCONF"); named && *named) files.push_back(named);
  const char* root = std::getenv("FREETDS");
  if (root && *root) files.push_back(std::string(root) + "/etc/freetds.conf");
  const char* home = std::getenv("HOME");
  if (home && *home) files.push_back(std::string(home) + "/.freetds.conf");
  files.push_back(kFreeTdsSystemConf);
  if (home && *home) files.push_back(std::string(home) + "/.interfaces");
  const char* sybase = std::getenv("SYBASE");
  files.push_back(sybase && *sybase ? std::string(sybase) + "/interfaces" : std::string(kFreeTdsSystemInterfaces));
  for (const std::string& file : files)
    if (FILE* f = std::fopen(file.c_str(), "r")) {
      std::fclose(f);
      return file;
    }
  return std::string();
}

std::vector<std::string> FreeTdsConfServers() {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const std::string& file : FreeTdsConfFiles())
    for (std::string& name : ReadFreeTdsConfSections(file))
      if (seen.insert(Lower(name)).second) names.push_back(std::move(name));
  return names;
}

std::string InterfacesFileOf(CS_CONTEXT* ctx) {
  {
    std::lock_guard lock(g_mutex);
    auto it = g_contexts.find(ctx);
    if (it != g_contexts.end() && !it->second.ifile.empty()) return it->second.ifile;
  }
  const char* sybase = std::getenv("SYBASE");
  if (sybase && *sybase) return std::string(sybase) + "/interfaces";
  return std::string();
}

std::string ConnectFailedText(const std::string& server) {
  return "ct_connect(): unable to connect to server '" + server + "'";
}

namespace detail {

void TraceCall(const char* call) {
  if (!g_traceOn.load(std::memory_order_relaxed)) return;
  std::lock_guard lock(g_traceMutex);
  if (!g_traceFile) return;
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  std::fprintf(g_traceFile, "%02d:%02d:%02d.%03d %s\n", tm.tm_hour, tm.tm_min, tm.tm_sec, ms, call);
  std::fflush(g_traceFile);
}

CS_RETCODE DeliverServerMessage(CS_CONNECTION* con, const CS_SERVERMSG& msg) {
  CS_SERVERMSG copy = msg;
  return ServerMessageHook(nullptr, con, &copy);
}

CS_RETCODE DeliverClientMessage(CS_CONNECTION* con, const CS_CLIENTMSG& msg) {
  CS_CLIENTMSG copy = msg;
  return ClientMessageHook(nullptr, con, &copy);
}

}  // namespace detail

// --- CS-Library ---------------------------------------------------------------------------

CS_RETCODE Library::cs_ctx_alloc(CS_INT version, CS_CONTEXT** ctx) {
  const CS_RETCODE rc = ::cs_ctx_alloc(version, ctx);
  if (rc == CS_SUCCEED && ctx && *ctx) {
    std::lock_guard lock(g_mutex);
    g_contexts[*ctx] = ContextState{};
  }
  return rc;
}

CS_RETCODE Library::cs_ctx_drop(CS_CONTEXT* ctx) {
  const CS_RETCODE rc = ::cs_ctx_drop(ctx);
  if (rc == CS_SUCCEED) {
    std::lock_guard lock(g_mutex);
    g_contexts.erase(ctx);
  }
  return rc;
}

CS_RETCODE Library::cs_loc_alloc(CS_CONTEXT* ctx, CS_LOCALE** locptr) {
  const CS_RETCODE rc = ::cs_loc_alloc(ctx, locptr);
  if (rc == CS_SUCCEED && locptr && *locptr) {
    // FreeTDS starts the locale empty; the client side speaks UTF-8 throughout.
    ::cs_locale(ctx, CS_SET, *locptr, CS_SYB_CHARSET, const_cast<char*>("utf8"), CS_NULLTERM, nullptr);
    std::lock_guard lock(g_mutex);
    g_locales[*locptr] = LocaleState{};
  }
  return rc;
}

CS_RETCODE Library::cs_loc_drop(CS_CONTEXT* ctx, CS_LOCALE* locale) {
  {
    std::lock_guard lock(g_mutex);
    g_locales.erase(locale);
  }
  return ::cs_loc_drop(ctx, locale);
}

// FreeTDS refuses CS_SET of the sort order and answers GETs from whatever it stored (nothing
// for a fresh locale); the facade keeps all three values and checks names against the family's.
CS_RETCODE Library::cs_locale(CS_CONTEXT* ctx, CS_INT action, CS_LOCALE* locale, CS_INT type, CS_VOID* buffer,
                              CS_INT buflen, CS_INT* outlen) {
  bool kept;
  {
    std::lock_guard lock(g_mutex);
    kept = g_locales.count(locale) > 0;
  }
  const bool ours = type == CS_SYB_CHARSET || type == CS_SYB_LANG || type == CS_SYB_SORTORDER ||
                    type == CS_SYB_LANG_CHARSET || type == CS_LC_ALL;
  if (!kept || !ours || !ctx) return ::cs_locale(ctx, action, locale, type, buffer, buflen, outlen);

  if (action == CS_GET) {
    LocaleState st;
    {
      std::lock_guard lock(g_mutex);
      st = g_locales[locale];
    }
    CS_RETCODE rc = CS_FAIL;
    switch (type) {
      case CS_SYB_CHARSET:
        CopyText(st.charset, buffer, buflen, outlen, rc);
        break;
      case CS_SYB_LANG:
        CopyText(st.language, buffer, buflen, outlen, rc);
        break;
      case CS_SYB_SORTORDER:
        CopyText(st.sortOrder, buffer, buflen, outlen, rc);
        break;
      case CS_SYB_LANG_CHARSET:
        CopyText(st.language + "." + st.charset, buffer, buflen, outlen, rc);
        break;
      default:
        break;
    }
    return rc;
  }
  if (action != CS_SET) return CS_FAIL;
  if (type == CS_LC_ALL) {
    if (buffer) return CS_FAIL;
    const CS_RETCODE rc = ::cs_locale(ctx, action, locale, type, buffer, buflen, outlen);
    std::lock_guard lock(g_mutex);
    g_locales[locale] = LocaleState{};
    return rc;
  }
  if (!buffer) return CS_FAIL;
  const std::string value = TextArg(static_cast<CS_CHAR*>(buffer), buflen);
  std::string language, charset;
  switch (type) {
    case CS_SYB_CHARSET:
      if (!ValidCharset(value)) return CS_FAIL;
      charset = value;
      break;
    case CS_SYB_LANG:
      if (!ValidLanguage(value)) return CS_FAIL;
      language = value;
      break;
    case CS_SYB_SORTORDER:
      if (!ValidSortOrder(value)) return CS_FAIL;
      break;
    case CS_SYB_LANG_CHARSET: {
      const auto dot = value.find('.');
      if (dot == std::string::npos) return CS_FAIL;
      language = value.substr(0, dot);
      charset = value.substr(dot + 1);
      if ((!language.empty() && !ValidLanguage(language)) || (!charset.empty() && !ValidCharset(charset)))
        return CS_FAIL;
      break;
    }
    default:
      break;
  }
  // Language and charset also go to FreeTDS so a connection's CS_LOC_PROP carries them.
  if (type != CS_SYB_SORTORDER) {
    const CS_RETCODE rc =
        ::cs_locale(ctx, CS_SET, locale, type, const_cast<char*>(value.c_str()), CS_NULLTERM, outlen);
    if (rc != CS_SUCCEED) return rc;
  }
  std::lock_guard lock(g_mutex);
  LocaleState& st = g_locales[locale];
  if (type == CS_SYB_SORTORDER) st.sortOrder = value;
  if (!language.empty()) st.language = language;
  if (!charset.empty()) st.charset = charset;
  return CS_SUCCEED;
}

// --- Context --------------------------------------------------------------------------------

CS_RETCODE Library::ct_init(CS_CONTEXT* ctx, CS_INT version) {
  const CS_RETCODE rc = ::ct_init(ctx, version);
  if (rc != CS_SUCCEED) return rc;
  // Client-Library's own client messages (_ctclient_msg) reach only the context's handler, so
  // the context routes them to the connection they name.
  ::ct_callback(ctx, nullptr, CS_SET, CS_CLIENTMSG_CB, reinterpret_cast<CS_VOID*>(&ClientMessageHook));
  ::ct_callback(ctx, nullptr, CS_SET, CS_SERVERMSG_CB, reinterpret_cast<CS_VOID*>(&ServerMessageHook));
  std::lock_guard lock(g_mutex);
  g_contexts.try_emplace(ctx);
  return rc;
}

namespace {

// FreeTDS copies the context's CS_TIMEOUT into a connection only when it opens: a changed
// timeout is pushed into the context's open connections too, except those that set a
// CS_TIMEOUT of their own.
void PushQueryTimeout(CS_CONTEXT* ctx) {
  CS_INT seconds = 0;
  if (::ct_config(ctx, CS_GET, CS_TIMEOUT, &seconds, CS_UNUSED, nullptr) != CS_SUCCEED) return;
  if (seconds <= 0) seconds = CS_NO_LIMIT;
  std::vector<CS_CONNECTION*> open;
  {
    std::lock_guard lock(g_mutex);
    for (const auto& [con, cs] : g_connections)
      if (cs->ctx == ctx && cs->connected && !cs->props.count(CS_TIMEOUT)) open.push_back(con);
  }
  for (CS_CONNECTION* con : open) ::ct_con_props(con, CS_SET, CS_TIMEOUT, &seconds, CS_UNUSED, nullptr);
}

}  // namespace

// FreeTDS knows only a handful of ct_config properties and answers the rest with success and
// no effect; the facade keeps CS_MAX_CONNECT, CS_IFILE, the version text and any other value.
CS_RETCODE Library::ct_config(CS_CONTEXT* ctx, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                              CS_INT* outlen) {
  if (!ctx) return CS_FAIL;
  switch (property) {
    case CS_TIMEOUT: {
      const CS_RETCODE rc = ::ct_config(ctx, action, property, buffer, buflen, outlen);
      if (rc == CS_SUCCEED && (action == CS_SET || action == CS_CLEAR)) PushQueryTimeout(ctx);
      return rc;
    }
    case CS_LOGIN_TIMEOUT:
    case CS_EXPOSE_FMTS:
    case CS_VERSION:
      return ::ct_config(ctx, action, property, buffer, buflen, outlen);
    case CS_VER_STRING: {
      if (action != CS_GET || !buffer || buflen <= 0) return CS_FAIL;
      char lib[512] = {0};
      CS_INT len = 0;
      ::ct_config(ctx, CS_GET, CS_VER_STRING, lib, sizeof lib, &len);
      const std::string text = std::string("Tabulon Client-Library/1.0 over ") + lib;
      const CS_INT n = std::min<CS_INT>(static_cast<CS_INT>(text.size()), buflen - 1);
      std::memcpy(buffer, text.data(), static_cast<size_t>(n));
      static_cast<char*>(buffer)[n] = '\0';
      if (outlen) *outlen = static_cast<CS_INT>(text.size());
      return static_cast<CS_INT>(text.size()) < buflen ? CS_SUCCEED : CS_FAIL;
    }
    default:
      break;
  }
  std::lock_guard lock(g_mutex);
  auto it = g_contexts.find(ctx);
  if (it == g_contexts.end()) return CS_FAIL;
  ContextState& st = it->second;
  if (property == CS_MAX_CONNECT) {
    if (action == CS_SET) {
      if (!buffer) return CS_FAIL;
      CS_INT v;
      std::memcpy(&v, buffer, sizeof v);
      if (v < 1) return CS_FAIL;
      st.maxConnect = v;
      return CS_SUCCEED;
    }
    if (action == CS_GET) {
      if (!buffer) return CS_FAIL;
      std::memcpy(buffer, &st.maxConnect, sizeof st.maxConnect);
      if (outlen) *outlen = sizeof st.maxConnect;
      return CS_SUCCEED;
    }
    if (action == CS_CLEAR) {
      st.maxConnect = 25;
      return CS_SUCCEED;
    }
    return CS_FAIL;
  }
  if (property == CS_IFILE) {
    if (action == CS_SET) {
      if (!buffer) return CS_FAIL;
      // A caller passing a fixed buffer length gets the text up to its first NUL.
      std::string path = TextArg(static_cast<CS_CHAR*>(buffer), buflen);
      path = path.substr(0, path.find('\0'));
      st.ifile = path;
      return CS_SUCCEED;
    }
    if (action == CS_CLEAR) {
      st.ifile.clear();
      return CS_SUCCEED;
    }
    if (action == CS_GET) {
      std::string path = st.ifile;
      if (path.empty()) {
        const char* sybase = std::getenv("SYBASE");
        if (sybase && *sybase) path = std::string(sybase) + "/interfaces";
      }
      CS_RETCODE rc;
      CopyText(path, buffer, buflen, outlen, rc);
      return rc;
    }
    return CS_FAIL;
  }
  switch (action) {
    case CS_SET:
      if (!buffer) return CS_FAIL;
      st.config[property] = MakeKept(buffer, buflen);
      return CS_SUCCEED;
    case CS_GET: {
      auto kv = st.config.find(property);
      if (kv == st.config.end()) return CS_FAIL;
      return CopyKept(kv->second, buffer, buflen, outlen);
    }
    case CS_CLEAR:
      st.config.erase(property);
      return CS_SUCCEED;
    case CS_SUPPORTED:
      if (buffer) *static_cast<CS_BOOL*>(buffer) = CS_TRUE;
      return CS_SUCCEED;
    default:
      return CS_FAIL;
  }
}

// Message callbacks stay the facade's own inside FreeTDS; a caller's callback is kept and
// called for connections not in inline mode. Other callback kinds (completion, directory
// lookup) FreeTDS ignores: the facade keeps them so CS_GET returns what was set.
CS_RETCODE Library::ct_callback(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT action, CS_INT type,
                                CS_VOID* func) {
  if (!ctx && !con) return CS_FAIL;
  std::lock_guard lock(g_mutex);
  std::map<CS_INT, void*>* table = nullptr;
  if (con) {
    ConnectionState* cs = FindConnection(con);
    if (!cs) return CS_FAIL;
    table = &cs->callbacks;
  } else {
    auto it = g_contexts.find(ctx);
    if (it == g_contexts.end()) return CS_FAIL;
    table = &it->second.callbacks;
  }
  if (action == CS_GET) {
    if (!func) return CS_FAIL;
    auto it = table->find(type);
    *static_cast<void**>(func) = it == table->end() ? nullptr : it->second;
    return CS_SUCCEED;
  }
  if (action != CS_SET) return CS_FAIL;
  if (func)
    (*table)[type] = func;
  else
    table->erase(type);
  return CS_SUCCEED;
}

// --- Connection -----------------------------------------------------------------------------

CS_RETCODE Library::ct_con_alloc(CS_CONTEXT* ctx, CS_CONNECTION** con) {
  const CS_RETCODE rc = ::ct_con_alloc(ctx, con);
  if (rc != CS_SUCCEED || !con || !*con) return rc;
  // FreeTDS's "auto" version tries TDS 7.x first; the servers served here speak 5.0 only.
  CS_INT version = CS_TDS_50;
  ::ct_con_props(*con, CS_SET, CS_TDS_VERSION, &version, CS_UNUSED, nullptr);
  ::ct_con_props(*con, CS_SET, CS_CLIENTCHARSET, const_cast<char*>("UTF-8"), CS_NULLTERM, nullptr);
  ::ct_callback(nullptr, *con, CS_SET, CS_SERVERMSG_CB, reinterpret_cast<CS_VOID*>(&ServerMessageHook));
  ::ct_callback(nullptr, *con, CS_SET, CS_CLIENTMSG_CB, reinterpret_cast<CS_VOID*>(&ClientMessageHook));
  auto state = std::make_unique<ConnectionState>();
  state->ctx = ctx;
  std::lock_guard lock(g_mutex);
  g_connections[*con] = std::move(state);
  return rc;
}

namespace {

// Properties FreeTDS acts on when set, and those it answers when asked.
bool FreeTdsSets(CS_INT p) {
  switch (p) {
    case CS_USERNAME:
    case CS_PASSWORD:
    case CS_APPNAME:
    case CS_HOSTNAME:
    case CS_CLIENTCHARSET:
    case CS_PORT:
    case CS_DATABASE:
    case CS_SERVERADDR:
    case CS_SEC_SERVERPRINCIPAL:
    case CS_LOC_PROP:
    case CS_USERDATA:
    case CS_BULK_LOGIN:
    case CS_PACKETSIZE:
    case CS_TDS_VERSION:
    case CS_TIMEOUT:
    case CS_LOGIN_TIMEOUT:
    case CS_SEC_NETWORKAUTH:
    case CS_SEC_MUTUALAUTH:
    case CS_SEC_DELEGATION:
      return true;
    default:
      return false;
  }
}

bool FreeTdsGets(CS_INT p) {
  switch (p) {
    case CS_USERNAME:
    case CS_PASSWORD:
    case CS_APPNAME:
    case CS_HOSTNAME:
    case CS_CLIENTCHARSET:
    case CS_DATABASE:
    case CS_LOC_PROP:
    case CS_USERDATA:
    case CS_CON_STATUS:
    case CS_PACKETSIZE:
    case CS_PARENT_HANDLE:
    case CS_TIMEOUT:
    case CS_LOGIN_TIMEOUT:
      return true;
    default:
      return false;
  }
}

}  // namespace

CS_RETCODE Library::ct_con_props(CS_CONNECTION* con, CS_INT action, CS_INT property, CS_VOID* buffer,
                                 CS_INT buflen, CS_INT* outlen) {
  if (!con) return CS_FAIL;
  if (action == CS_SET) {
    if (property == CS_TDS_VERSION) {
      // Pinned: only TDS 5.0 is accepted.
      if (!buffer) return CS_FAIL;
      CS_INT v;
      std::memcpy(&v, buffer, sizeof v);
      return v == CS_TDS_50 ? CS_SUCCEED : CS_FAIL;
    }
    CS_RETCODE rc = CS_SUCCEED;
    if (FreeTdsSets(property)) rc = ::ct_con_props(con, action, property, buffer, buflen, outlen);
    if (rc != CS_SUCCEED) return rc;
    std::lock_guard lock(g_mutex);
    ConnectionState* cs = FindConnection(con);
    if (!cs) return rc;
    if (property == CS_SERVERADDR) cs->addressSetByCaller = true;
    if (property != CS_PASSWORD && property != CS_LOC_PROP && property != CS_USERDATA && buffer)
      cs->props[property] = MakeKept(buffer, buflen);
    return rc;
  }
  if (action == CS_CLEAR) {
    std::lock_guard lock(g_mutex);
    if (ConnectionState* cs = FindConnection(con)) cs->props.erase(property);
    return FreeTdsSets(property) ? ::ct_con_props(con, action, property, buffer, buflen, outlen) : CS_SUCCEED;
  }
  if (action != CS_GET) return CS_FAIL;
  if (!buffer) return CS_FAIL;
  {
    std::lock_guard lock(g_mutex);
    ConnectionState* cs = FindConnection(con);
    if (cs) {
      switch (property) {
        case CS_TDS_VERSION: {
          // FreeTDS dereferences the socket, which does not exist before the connect.
          const CS_INT v = CS_TDS_50;
          std::memcpy(buffer, &v, sizeof v);
          if (outlen) *outlen = sizeof v;
          return CS_SUCCEED;
        }
        case CS_SERVERNAME:
          if (!cs->serverName.empty()) {
            CS_RETCODE rc;
            CopyText(cs->serverName, buffer, buflen, outlen, rc);
            return rc;
          }
          break;
        case CS_BULK_LOGIN: {
          // FreeTDS answers this one inverted; the value set is the answer.
          CS_INT v = CS_FALSE;
          auto it = cs->props.find(property);
          if (it != cs->props.end() && it->second.bytes.size() >= sizeof(CS_INT))
            std::memcpy(&v, it->second.bytes.data(), sizeof v);
          v = v ? CS_TRUE : CS_FALSE;
          std::memcpy(buffer, &v, sizeof v);
          if (outlen) *outlen = sizeof v;
          return CS_SUCCEED;
        }
        case CS_LOGIN_STATUS: {
          const CS_BOOL v = cs->connected ? CS_TRUE : CS_FALSE;
          std::memcpy(buffer, &v, sizeof v);
          if (outlen) *outlen = sizeof v;
          return CS_SUCCEED;
        }
        default:
          if (!FreeTdsGets(property)) {
            auto it = cs->props.find(property);
            if (it == cs->props.end()) return CS_FAIL;
            return CopyKept(it->second, buffer, buflen, outlen);
          }
          break;
      }
    }
  }
  if (property == CS_SERVERNAME || FreeTdsGets(property))
    return ::ct_con_props(con, action, property, buffer, buflen, outlen);
  return CS_FAIL;
}

namespace {
constexpr const char* kMaxConnectText =
    "ct_connect(): user api layer: external error: The maximum number of connections have already been opened.";
}  // namespace

// Resolves the server name through the context's interfaces file and connects to that
// address; a name the file lacks is left to FreeTDS's own configuration (freetds.conf).
CS_RETCODE Library::ct_connect(CS_CONNECTION* con, CS_CHAR* servername, CS_INT snamelen) {
  if (!con) return CS_FAIL;
  std::string name = TextArg(servername, snamelen);
  if (name.empty()) {
    const char* dsquery = std::getenv("DSQUERY");
    name = dsquery && *dsquery ? dsquery : "SYBASE";
  }
  CS_CONTEXT* ctx = nullptr;
  bool callerAddress = false;
  bool refused = false;
  size_t clientBefore = 0, serverBefore = 0;
  {
    std::lock_guard lock(g_mutex);
    ConnectionState* cs = FindConnection(con);
    if (cs && !cs->connected) {
      // The context's CS_MAX_CONNECT bounds its open connections; FreeTDS would open any number.
      // Logins under way count too (they are marked below under the same lock), so logins
      // started at the same time on several threads cannot all pass the check.
      const auto ctxIt = g_contexts.find(cs->ctx);
      const CS_INT limit = ctxIt == g_contexts.end() ? 25 : ctxIt->second.maxConnect;
      CS_INT open = 0;
      for (const auto& [other, state] : g_connections)
        if (state->ctx == cs->ctx && (state->connected || state->connecting)) ++open;
      refused = open >= limit;
      ctx = cs->ctx;
    }
    if (cs && !refused) {
      ctx = cs->ctx;
      callerAddress = cs->addressSetByCaller;
      clientBefore = cs->client.size();
      serverBefore = cs->server.size();
      cs->connecting = true;
    }
  }
  if (refused) {
    CS_CLIENTMSG m{};
    m.severity = CS_SV_CONFIG_FAIL;
    m.msgnumber = (1 << 24) | (1 << 16) | (CS_SV_CONFIG_FAIL << 8) | 3;
    std::snprintf(m.msgstring, sizeof m.msgstring, "%s", kMaxConnectText);
    m.msgstringlen = static_cast<CS_INT>(std::strlen(m.msgstring));
    ClientMessageHook(ctx, con, &m);
    return CS_FAIL;
  }
  bool resolved = false;
  if (ctx && !callerAddress) {
    for (const ServerEntry& e : ReadInterfacesFile(InterfacesFileOf(ctx))) {
      if (e.name != name || e.port <= 0 || e.host.empty()) continue;
      const std::string addr = e.host + " " + std::to_string(e.port);
      resolved = ::ct_con_props(con, CS_SET, CS_SERVERADDR, const_cast<char*>(addr.c_str()), CS_NULLTERM,
                                nullptr) == CS_SUCCEED;
      break;
    }
  }
  const CS_RETCODE rc = ::ct_connect(con, const_cast<CS_CHAR*>(name.c_str()), CS_NULLTERM);

  std::lock_guard lock(g_mutex);
  ConnectionState* cs = FindConnection(con);
  if (!cs) return rc;
  cs->connecting = false;
  if (resolved) {
    // With an address set, FreeTDS still looks the (empty) name up in its own files and
    // complains that it is not there; the address made that lookup moot.
    auto& q = cs->client;
    q.erase(std::remove_if(q.begin() + static_cast<std::ptrdiff_t>(std::min(clientBefore, q.size())), q.end(),
                           [](const CS_CLIENTMSG& m) { return m.msgnumber == kLibTdsServerNotFound; }),
            q.end());
  }
  if (rc == CS_SUCCEED) {
    cs->connected = true;
    cs->serverName = name;
    return rc;
  }
  if (cs->inlineMode) {
    bool reported = false;
    for (size_t i = std::min(clientBefore, cs->client.size()); i < cs->client.size(); ++i)
      reported |= cs->client[i].severity > CS_SV_RETRY_FAIL;
    for (size_t i = std::min(serverBefore, cs->server.size()); i < cs->server.size(); ++i)
      reported |= cs->server[i].severity > 10;
    if (!reported) {
      // Every failed connect reaches the diagnostics as an error, also when FreeTDS gave up
      // without a word.
      CS_CLIENTMSG m{};
      m.severity = CS_SV_COMM_FAIL;
      m.msgnumber = (1 << 24) | (1 << 16) | (CS_SV_COMM_FAIL << 8) | 4;
      const std::string text = ConnectFailedText(name);
      std::snprintf(m.msgstring, sizeof m.msgstring, "%s", text.c_str());
      m.msgstringlen = static_cast<CS_INT>(std::strlen(m.msgstring));
      Push(cs->client, cs->clientLimit, m);
    }
  }
  return rc;
}

CS_RETCODE Library::ct_con_drop(CS_CONNECTION* con) {
  const CS_RETCODE rc = ::ct_con_drop(con);
  if (rc != CS_SUCCEED) return rc;
  std::lock_guard lock(g_mutex);
  auto it = g_connections.find(con);
  if (it != g_connections.end()) {
    for (CS_DS_OBJECT* obj : it->second->objects) {
      g_objects.erase(obj);
      delete obj;
    }
    g_connections.erase(it);
    std::erase_if(g_commandTexts, [con](const auto& kv) {
      const auto owner = g_commands.find(kv.first);
      return owner != g_commands.end() && owner->second == con;
    });
    std::erase_if(g_cursorCommands, [con](CS_COMMAND* cmd) {
      const auto owner = g_commands.find(cmd);
      return owner != g_commands.end() && owner->second == con;
    });
    std::erase_if(g_unsentDeclares, [con](CS_COMMAND* cmd) {
      const auto owner = g_commands.find(cmd);
      return owner != g_commands.end() && owner->second == con;
    });
    std::erase_if(g_commands, [con](const auto& kv) { return kv.second == con; });
  }
  return rc;
}

namespace {
bool RefuseWhilePending(CS_CONNECTION* con, CS_COMMAND* cmd, const char* call);
}  // namespace

// --- Options ---------------------------------------------------------------------------------

namespace {

// Runs one "set" statement on its own command and reads every result; CS_FAIL when the
// server refused it. Server messages reach the connection's queue through the callbacks.
CS_RETCODE RunSetStatement(CS_CONNECTION* con, const std::string& sql) {
  CS_COMMAND* cmd = nullptr;
  if (::ct_cmd_alloc(con, &cmd) != CS_SUCCEED) return CS_FAIL;
  CS_RETCODE result = CS_FAIL;
  if (::ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED) == CS_SUCCEED &&
      ::ct_send(cmd) == CS_SUCCEED) {
    bool failed = false;
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ::ct_results(cmd, &type)) == CS_SUCCEED) {
      if (type == CS_CMD_FAIL) failed = true;
      // A "set" returns no rows; anything else would loop forever in FreeTDS (unfetched rows
      // come back from ct_results), so it is cancelled.
      if (type == CS_ROW_RESULT || type == CS_COMPUTE_RESULT || type == CS_PARAM_RESULT ||
          type == CS_STATUS_RESULT) {
        ::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
        break;
      }
    }
    if (!failed && (rc == CS_END_RESULTS || rc == CS_SUCCEED)) result = CS_SUCCEED;
  }
  ::ct_cmd_drop(cmd);
  return result;
}

}  // namespace

// FreeTDS 1.3.17 refuses CS_OPT_TEXTSIZE and CS_OPT_ROWCOUNT and sends isolation level 1 as
// 3; those three are sent as the equivalent T-SQL ("set textsize 32768", "set rowcount 0",
// "set transaction isolation level 1"). Every other option goes to FreeTDS as it is.
CS_RETCODE Library::ct_options(CS_CONNECTION* con, CS_INT action, CS_INT option, CS_VOID* param,
                               CS_INT paramlen, CS_INT* outlen) {
  // Options travel as commands of their own, which another command's unread results would
  // swallow or mix with.
  if (con && RefuseWhilePending(con, nullptr, "ct_options")) return CS_FAIL;
  if (action == CS_SET && con && param &&
      (option == CS_OPT_TEXTSIZE || option == CS_OPT_ROWCOUNT || option == CS_OPT_ISOLATION)) {
    const CS_INT value = *static_cast<const CS_INT*>(param);
    if (value < 0 || (option == CS_OPT_ISOLATION && value > 3)) {
      ReportIllegalValue(con, "ct_options", value, "param");
      return CS_FAIL;
    }
    std::string sql;
    if (option == CS_OPT_TEXTSIZE) {
      sql = "set textsize " + std::to_string(value);
    } else if (option == CS_OPT_ROWCOUNT) {
      sql = "set rowcount " + std::to_string(value);
    } else {
      sql = "set transaction isolation level " + std::to_string(value);
    }
    return RunSetStatement(con, sql);
  }
  return ::ct_options(con, action, option, param, paramlen, outlen);
}

// ct_debug: FreeTDS has none. The facade keeps the debug file and flags and, while any flag
// is set, writes one line per facade call to the file.
CS_RETCODE Library::ct_debug(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT operation, CS_INT flag,
                             CS_CHAR* filename, CS_INT fnamelen) {
  (void)ctx;
  (void)con;
  std::lock_guard lock(g_traceMutex);
  switch (operation) {
    case CS_SET_DBG_FILE: {
      if (g_traceFile) std::fclose(g_traceFile);
      g_traceFile = nullptr;
      const std::string path = TextArg(filename, fnamelen);
      if (!path.empty()) {
        g_traceFile = std::fopen(path.c_str(), "a");
        if (!g_traceFile) {
          g_traceOn = false;
          return CS_FAIL;
        }
      }
      break;
    }
    case CS_SET_PROTOCOL_FILE:
      break;
    case CS_SET_FLAG:
      if (flag & ~kKnownDebugFlags) return CS_FAIL;
      g_traceFlags |= flag;
      break;
    case CS_CLEAR_FLAG:
      if (flag & ~kKnownDebugFlags) return CS_FAIL;
      g_traceFlags &= ~flag;
      break;
    default:
      return CS_FAIL;
  }
  g_traceOn = g_traceFile != nullptr && g_traceFlags != 0;
  return CS_SUCCEED;
}

// --- Messages -------------------------------------------------------------------------------

// Inline message handling served from the connection's own queue. FreeTDS's ct_diag is never
// called: it would switch the whole context to one shared, unlocked queue.
CS_RETCODE Library::ct_diag(CS_CONNECTION* con, CS_INT operation, CS_INT type, CS_INT index,
                            CS_VOID* buffer) {
  std::lock_guard lock(g_mutex);
  ConnectionState* cs = FindConnection(con);
  if (!cs) return CS_FAIL;
  if (operation == CS_INIT) {
    cs->inlineMode = true;
    return CS_SUCCEED;
  }
  if (!cs->inlineMode) return CS_FAIL;
  const bool server = type == CS_SERVERMSG_TYPE || type == CS_ALLMSG_TYPE;
  const bool client = type == CS_CLIENTMSG_TYPE || type == CS_ALLMSG_TYPE;
  switch (operation) {
    case CS_CLEAR:
      if (!server && !client) return CS_FAIL;
      if (server) cs->server.clear();
      if (client) cs->client.clear();
      return CS_SUCCEED;
    case CS_STATUS: {
      if (!buffer || (!server && !client)) return CS_FAIL;
      CS_INT n = 0;
      if (server) n += static_cast<CS_INT>(cs->server.size());
      if (client) n += static_cast<CS_INT>(cs->client.size());
      std::memcpy(buffer, &n, sizeof n);
      return CS_SUCCEED;
    }
    case CS_MSGLIMIT: {
      if (!buffer || (!server && !client)) return CS_FAIL;
      CS_INT limit;
      std::memcpy(&limit, buffer, sizeof limit);
      if (server) cs->serverLimit = limit;
      if (client) cs->clientLimit = limit;
      return CS_SUCCEED;
    }
    case CS_GET:
      if (!buffer || index < 1) return CS_FAIL;
      if (type == CS_SERVERMSG_TYPE) {
        if (index > static_cast<CS_INT>(cs->server.size())) return CS_NOMSG;
        std::memcpy(buffer, &cs->server[static_cast<size_t>(index - 1)], sizeof(CS_SERVERMSG));
        return CS_SUCCEED;
      }
      if (type == CS_CLIENTMSG_TYPE) {
        if (index > static_cast<CS_INT>(cs->client.size())) return CS_NOMSG;
        std::memcpy(buffer, &cs->client[static_cast<size_t>(index - 1)], sizeof(CS_CLIENTMSG));
        return CS_SUCCEED;
      }
      return CS_FAIL;
    default:
      return CS_FAIL;
  }
}

// --- Directory service ----------------------------------------------------------------------

// Lists the server entries of the interfaces file the connection's context uses, handing each
// to the CS_DS_LOOKUP_CB callback before returning (the lookup completes synchronously).
CS_RETCODE Library::ct_ds_lookup(CS_CONNECTION* con, CS_INT action, CS_INT* reqid,
                                 CS_DS_LOOKUP_INFO* lookupinfo, CS_VOID* userdata) {
  if (action == CS_CLEAR) return CS_SUCCEED;  // nothing is ever pending
  if (action != CS_SET || !lookupinfo) return CS_FAIL;
  CS_CONTEXT* ctx = nullptr;
  void* cb = nullptr;
  {
    std::lock_guard lock(g_mutex);
    ConnectionState* cs = FindConnection(con);
    if (!cs) return CS_FAIL;
    ctx = cs->ctx;
    cb = ConnectionCallback(cs, CS_DS_LOOKUP_CB);
    if (!cb) cb = ContextCallback(ctx, CS_DS_LOOKUP_CB);
  }
  if (!cb) return CS_FAIL;
  const CS_INT id = ++g_requestId;
  if (reqid) *reqid = id;
  std::vector<ServerEntry> entries;
  const CS_OID* oid = lookupinfo->objclass;
  const std::string wanted = CS_OID_OBJSERVER;
  if (oid && oid->oid_length == static_cast<CS_INT>(wanted.size()) &&
      std::memcmp(oid->oid_buffer, wanted.data(), wanted.size()) == 0) {
    const std::string ifile = InterfacesFileOf(ctx);
    if (!ifile.empty()) {
      entries = ReadInterfacesFile(ifile);
    } else {
      // No interfaces file: FreeTDS's configuration resolves the names, so its servers are
      // the ones to offer.
      for (std::string& name : FreeTdsConfServers()) entries.push_back(ServerEntry{std::move(name), "", 0});
    }
  }
  const CS_INT count = static_cast<CS_INT>(entries.size());
  for (const ServerEntry& e : entries) {
    auto* obj = new CS_DS_OBJECT{e, con};
    {
      std::lock_guard lock(g_mutex);
      ConnectionState* cs = FindConnection(con);
      if (!cs) {
        delete obj;
        return CS_FAIL;
      }
      cs->objects.insert(obj);
      g_objects.insert(obj);
    }
    const CS_RETCODE more =
        reinterpret_cast<CS_DS_LOOKUP_FUNC>(cb)(con, id, CS_SUCCEED, count, obj, userdata);
    if (more != CS_CONTINUE) break;
  }
  return CS_SUCCEED;
}

CS_RETCODE Library::ct_ds_objinfo(CS_DS_OBJECT* object, CS_INT action, CS_INT objinfo, CS_INT number,
                                  CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  (void)number;
  if (action != CS_GET || !buffer) return CS_FAIL;
  std::lock_guard lock(g_mutex);
  if (!g_objects.count(object)) return CS_FAIL;
  switch (objinfo) {
    case CS_DS_DIST_NAME: {
      const std::string& name = object->entry.name;
      if (outlen) *outlen = static_cast<CS_INT>(name.size());
      if (buflen <= 0) return CS_FAIL;
      const CS_INT n = std::min<CS_INT>(static_cast<CS_INT>(name.size()), buflen - 1);
      std::memcpy(buffer, name.data(), static_cast<size_t>(n));
      static_cast<char*>(buffer)[n] = '\0';
      return static_cast<CS_INT>(name.size()) < buflen ? CS_SUCCEED : CS_FAIL;
    }
    case CS_DS_CLASSOID: {
      if (buflen != CS_UNUSED && buflen < static_cast<CS_INT>(sizeof(CS_OID))) return CS_FAIL;
      CS_OID oid{};
      oid.oid_length = static_cast<CS_INT>(std::strlen(CS_OID_OBJSERVER));
      std::memcpy(oid.oid_buffer, CS_OID_OBJSERVER, static_cast<size_t>(oid.oid_length));
      std::memcpy(buffer, &oid, sizeof oid);
      if (outlen) *outlen = sizeof oid;
      return CS_SUCCEED;
    }
    case CS_DS_NUMATTR: {
      const CS_INT zero = 0;
      std::memcpy(buffer, &zero, sizeof zero);
      if (outlen) *outlen = sizeof zero;
      return CS_SUCCEED;
    }
    default:
      return CS_FAIL;
  }
}

CS_RETCODE Library::ct_ds_dropobj(CS_CONNECTION* con, CS_DS_OBJECT* object) {
  std::lock_guard lock(g_mutex);
  ConnectionState* cs = FindConnection(con);
  if (!cs || !cs->objects.count(object)) return CS_FAIL;
  cs->objects.erase(object);
  g_objects.erase(object);
  delete object;
  return CS_SUCCEED;
}

// --- Commands and results -------------------------------------------------------------------

namespace {

// The connection a command was allocated on, or null for one the facade never saw.
CS_CONNECTION* ConnectionOf(CS_COMMAND* cmd) {
  auto it = g_commands.find(cmd);
  return it == g_commands.end() ? nullptr : it->second;
}

// True (and the refusal reported) when another command of Con still has results to read.
bool RefuseWhilePending(CS_CONNECTION* con, CS_COMMAND* cmd, const char* call) {
  CS_CONTEXT* ctx = nullptr;
  {
    std::lock_guard lock(g_mutex);
    ConnectionState* cs = FindConnection(con);
    if (!cs || !cs->pending || cs->pending == cmd) return false;
    ctx = cs->ctx;
  }
  ReportResultsPending(ctx, con, call);
  return true;
}

void SetPending(CS_CONNECTION* con, CS_COMMAND* cmd) {
  std::lock_guard lock(g_mutex);
  if (ConnectionState* cs = FindConnection(con)) cs->pending = cmd;
}

// Forgets Cmd's pending results (all of the connection's when Cmd is null).
void ClearPending(CS_CONNECTION* con, CS_COMMAND* cmd) {
  std::lock_guard lock(g_mutex);
  ConnectionState* cs = FindConnection(con);
  if (cs && (!cmd || cs->pending == cmd)) cs->pending = nullptr;
}

// After a call that may have waited past the query timeout: when the statement timed out,
// the command is read up to the server's acknowledgement of the attention (so the connection
// is ready for the next command), the timeout text is queued as an error, and the call fails.
CS_RETCODE FinishIfTimedOut(CS_COMMAND* cmd, CS_RETCODE rc, const char* call) {
  // What the call read is delivered (FreeTDS's ct_fetch peeks at the next token after a row and
  // may time out there with the row in hand); the cancel stays pending on the command, so the
  // next call returns at once and fails with the timeout.
  if (rc == CS_SUCCEED || rc == CS_ROW_FAIL) return rc;
  CS_CONNECTION* con = nullptr;
  CS_CONTEXT* ctx = nullptr;
  {
    std::lock_guard lock(g_mutex);
    con = ConnectionOf(cmd);
    ConnectionState* cs = con ? FindConnection(con) : nullptr;
    if (!cs || !cs->timedOut) return rc;
    cs->timedOut = false;
    ctx = cs->ctx;
  }
  CS_INT status = 0;
  const bool dead = ::ct_con_props(con, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED &&
                    (status & CS_CONSTAT_DEAD);
  if (!dead) {
    ::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    // FreeTDS keeps the cancel pending on the command and would answer its next ct_send with
    // CS_CANCELED: one ct_results takes it (at once, nothing is read), leaving the command clean.
    CS_INT ignored = 0;
    ::ct_results(cmd, &ignored);
  }
  ClearPending(con, dead ? nullptr : cmd);
  CS_CLIENTMSG m{};
  // Above CS_SV_RETRY_FAIL: the statement was given up, which the diagnostics report as an error.
  m.severity = CS_SV_RESOURCE_FAIL;
  m.msgnumber = (1 << 24) | (2 << 16) | (CS_SV_RESOURCE_FAIL << 8) | 63;
  std::snprintf(m.msgstring, sizeof m.msgstring, "%s", TimeoutText(call).c_str());
  m.msgstringlen = static_cast<CS_INT>(std::strlen(m.msgstring));
  ClientMessageHook(ctx, con, &m);
  return CS_FAIL;
}

// Runs Call, a read of Cmd's results that may wait for the server, with Cmd known as the
// waiting command of its connection, then applies the timeout rule to its result.
template <class Call>
CS_RETCODE WaitFor(CS_COMMAND* cmd, const char* name, Call call) {
  CS_CONNECTION* con = nullptr;
  {
    std::lock_guard lock(g_mutex);
    con = ConnectionOf(cmd);
    if (ConnectionState* cs = con ? FindConnection(con) : nullptr) cs->waiting = cmd;
  }
  const CS_RETCODE rc = call();
  {
    std::lock_guard lock(g_mutex);
    if (ConnectionState* cs = con ? FindConnection(con) : nullptr; cs && cs->waiting == cmd) cs->waiting = nullptr;
  }
  return FinishIfTimedOut(cmd, rc, name);
}

// A new command or a cancel starts without a timeout left over from an earlier wait.
void ForgetTimeout(CS_CONNECTION* con) {
  std::lock_guard lock(g_mutex);
  if (ConnectionState* cs = FindConnection(con)) cs->timedOut = false;
}

}  // namespace

CS_RETCODE Library::ct_cmd_alloc(CS_CONNECTION* con, CS_COMMAND** cmd) {
  const CS_RETCODE rc = ::ct_cmd_alloc(con, cmd);
  if (rc == CS_SUCCEED && cmd && *cmd) {
    std::lock_guard lock(g_mutex);
    g_commands[*cmd] = con;
  }
  return rc;
}

namespace {

// FreeTDS frees a cursor's state only when the command sends its deallocation, never at
// ct_cmd_drop: a command dropped with its cursor still held (a declare the server refused, a
// cursor its caller never closed) sends it first. A cursor the server never took (CS_CUR_STATUS
// 0) is released without a word to the server; one the server holds is closed and deallocated
// there, its answers read. Nothing is sent while another command of the connection has results
// pending (they would mix), and what these calls report belongs to no caller.
void ReleaseHeldCursor(CS_CONNECTION* con, CS_COMMAND* cmd) {
  size_t clientBefore = 0, serverBefore = 0;
  {
    std::lock_guard lock(g_mutex);
    if (!g_cursorCommands.count(cmd) || g_unsentDeclares.count(cmd)) return;
    ConnectionState* cs = FindConnection(con);
    if (!cs || !cs->connected || (cs->pending && cs->pending != cmd)) return;
    clientBefore = cs->client.size();
    serverBefore = cs->server.size();
  }
  CS_INT status = 0;
  if (::ct_cmd_props(cmd, CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED) {
    const bool onServer = status != 0;
    if (onServer) ::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    const CS_RETCODE asked =
        onServer ? ::ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC)
                 : ::ct_cursor(cmd, CS_CURSOR_DEALLOC, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
    if (asked == CS_SUCCEED) {
      CS_RETCODE sent = ::ct_send(cmd);
      // A cancel still pending on the command answers the first send.
      if (sent == CS_CANCELED) sent = ::ct_send(cmd);
      CS_INT type = 0;
      if (sent == CS_SUCCEED && onServer)
        while (::ct_results(cmd, &type) == CS_SUCCEED) {
        }
    }
  }
  std::lock_guard lock(g_mutex);
  if (ConnectionState* cs = FindConnection(con)) {
    if (cs->client.size() > clientBefore) cs->client.resize(clientBefore);
    if (cs->server.size() > serverBefore) cs->server.resize(serverBefore);
  }
}

}  // namespace

// A command dropped with results unread is cancelled first, so its rows never reach the
// connection's next command; a cursor it still holds is released (see ReleaseHeldCursor).
CS_RETCODE Library::ct_cmd_drop(CS_COMMAND* cmd) {
  CS_CONNECTION* con = nullptr;
  bool pending = false;
  {
    std::lock_guard lock(g_mutex);
    con = ConnectionOf(cmd);
    ConnectionState* cs = con ? FindConnection(con) : nullptr;
    pending = cs && cs->pending == cmd && cs->connected;
  }
  if (pending) ::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  if (con) ReleaseHeldCursor(con, cmd);
  const CS_RETCODE rc = ::ct_cmd_drop(cmd);
  if (rc == CS_SUCCEED) {
    ClearPending(con, cmd);
    std::lock_guard lock(g_mutex);
    g_commands.erase(cmd);
    g_commandTexts.erase(cmd);
    g_cursorCommands.erase(cmd);
    g_unsentDeclares.erase(cmd);
  }
  return rc;
}

// Client-Library refuses a send while another command of the connection has results to
// read; FreeTDS would send it and mix the two commands' results.
CS_RETCODE Library::ct_send(CS_COMMAND* cmd) {
  CS_CONNECTION* con = nullptr;
  {
    std::lock_guard lock(g_mutex);
    con = ConnectionOf(cmd);
  }
  if (con && RefuseWhilePending(con, cmd, "ct_send")) return CS_FAIL;
  if (con) ForgetTimeout(con);
  const CS_RETCODE rc = ::ct_send(cmd);
  if (con && rc == CS_SUCCEED) SetPending(con, cmd);
  if (rc == CS_SUCCEED) {
    std::lock_guard lock(g_mutex);
    g_unsentDeclares.erase(cmd);
    if (auto it = g_commandTexts.find(cmd); it != g_commandTexts.end()) {
      it->second.resultSet = -1;
      it->second.inResultSet = false;
      it->second.statementFailed = false;
    }
  }
  return rc;
}

// A declare allocates FreeTDS's cursor state at once, and FreeTDS frees it only when the
// cursor's deallocation is sent: a declare that its ct_send would refuse (another command of
// the connection has results pending) is refused here, before anything is allocated.
CS_RETCODE Library::ct_cursor(CS_COMMAND* cmd, CS_INT type, CS_CHAR* name, CS_INT namelen, CS_CHAR* text,
                              CS_INT tlen, CS_INT option) {
  if (type == CS_CURSOR_DECLARE) {
    CS_CONNECTION* con = nullptr;
    {
      std::lock_guard lock(g_mutex);
      con = ConnectionOf(cmd);
    }
    if (con && RefuseWhilePending(con, cmd, "ct_cursor")) return CS_FAIL;
  }
  const CS_RETCODE rc = ::ct_cursor(cmd, type, name, namelen, text, tlen, option);
  if (rc == CS_SUCCEED && type == CS_CURSOR_DECLARE) {
    std::lock_guard lock(g_mutex);
    g_cursorCommands.insert(cmd);
    g_unsentDeclares.insert(cmd);
  }
  return rc;
}

CS_RETCODE Library::ct_results(CS_COMMAND* cmd, CS_INT* result_type) {
  const CS_RETCODE rc = WaitFor(cmd, "ct_results", [&] { return ::ct_results(cmd, result_type); });
  if (rc == CS_SUCCEED && result_type) {
    std::lock_guard lock(g_mutex);
    if (auto it = g_commandTexts.find(cmd); it != g_commandTexts.end()) {
      CommandText& kept = it->second;
      kept.lastResult = *result_type;
      // Each statement's result set ends with CS_CMD_DONE; its compute rows, and with
      // COMPUTE BY its later row groups, come before that.
      if ((*result_type == CS_ROW_RESULT || *result_type == CS_COMPUTE_RESULT) && !kept.inResultSet) {
        ++kept.resultSet;
        kept.inResultSet = true;
      } else if (*result_type == CS_CMD_DONE) {
        kept.inResultSet = false;
      } else if (*result_type == CS_CMD_FAIL) {
        kept.inResultSet = false;
        kept.statementFailed = true;
      }
    }
  }
  // A cursor's rows are not pending on the connection: FreeTDS sends each fetch from ct_fetch
  // and reads it to its end there, so other commands may run between fetches.
  const bool cursorRows = rc == CS_SUCCEED && result_type && *result_type == CS_CURSOR_RESULT;
  if (rc == CS_END_RESULTS || rc == CS_CANCELED || cursorRows) {
    std::lock_guard lock(g_mutex);
    if (CS_CONNECTION* con = ConnectionOf(cmd))
      if (ConnectionState* cs = FindConnection(con); cs && cs->pending == cmd) cs->pending = nullptr;
  } else if (rc == CS_FAIL) {
    // A dead connection has nothing left to read.
    CS_CONNECTION* con = nullptr;
    {
      std::lock_guard lock(g_mutex);
      con = ConnectionOf(cmd);
    }
    CS_INT status = 0;
    if (con && ::ct_con_props(con, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED &&
        (status & CS_CONSTAT_DEAD))
      ClearPending(con, nullptr);
  }
  return rc;
}

namespace {


// Tokens of SQL text outside literals and comments: words (names, keywords, numbers, with
// their dots), quoted names without their quotes, and single punctuation characters.
struct SqlToken {
  std::string text;
  bool word = false;
};

std::vector<SqlToken> SqlTokens(const std::string& sql) {
  std::vector<SqlToken> out;
  const size_t n = sql.size();
  size_t i = 0;
  auto isWordChar = [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '@' || c == '#' || c == '$' || c == '.' || c >= 0x80; };
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(sql[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      const size_t eol = sql.find('\n', i);
      i = eol == std::string::npos ? n : eol;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t close = sql.find("*/", i + 2);
      i = close == std::string::npos ? n : close + 2;
    } else if (c == '\'') {
      const size_t close = sql.find('\'', i + 1);
      out.push_back({"'", false});  // a literal: an expression, never a column name
      i = close == std::string::npos ? n : close + 1;
    } else if (c == '"' || c == '[') {
      const char endQuote = c == '"' ? '"' : ']';
      const size_t close = sql.find(endQuote, i + 1);
      const size_t end = close == std::string::npos ? n : close;
      std::string name = sql.substr(i + 1, end - i - 1);
      i = close == std::string::npos ? n : close + 1;
      // A quoted part joins a dotted name it belongs to (t."my col").
      if (!out.empty() && out.back().word && !out.back().text.empty() && out.back().text.back() == '.')
        out.back().text += name;
      else
        out.push_back({name, true});
    } else if (isWordChar(c)) {
      size_t j = i;
      while (j < n && isWordChar(static_cast<unsigned char>(sql[j]))) ++j;
      out.push_back({sql.substr(i, j - i), true});
      i = j;
    } else {
      out.push_back({std::string(1, static_cast<char>(c)), false});
      ++i;
    }
  }
  return out;
}

bool IsKeyword(const SqlToken& t, const char* word) {
  return t.word && Lower(t.text) == word;
}

// The top-level clause keywords of a text holding one SELECT (UNION parts aside): the
// token indexes just past each ORDER BY and of each COMPUTE; false for any other text.
bool SingleSelectClauses(const std::vector<SqlToken>& tokens, std::vector<size_t>& orderBys,
                         std::vector<size_t>& computes) {
  if (tokens.empty() || !IsKeyword(tokens.front(), "select")) return false;
  int depth = 0;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const SqlToken& t = tokens[i];
    if (t.text == "(") ++depth;
    if (t.text == ")") --depth;
    if (depth != 0) continue;
    if (t.text == ";") return false;
    if (IsKeyword(t, "select")) {
      const bool unionPart = IsKeyword(tokens[i - 1], "union") ||
                             (IsKeyword(tokens[i - 1], "all") && i >= 2 && IsKeyword(tokens[i - 2], "union"));
      if (!unionPart) return false;  // a second statement
    }
    if (IsKeyword(t, "order") && i + 1 < tokens.size() && IsKeyword(tokens[i + 1], "by")) orderBys.push_back(i + 2);
    if (IsKeyword(t, "compute")) computes.push_back(i);
  }
  return true;
}

}  // namespace

std::vector<int> ComputeClausesOfResultSets(const std::string& sql) {
  std::vector<int> out;
  const std::vector<SqlToken> tokens = SqlTokens(sql);
  // Statements whose results the text does not tell: control flow, procedure calls, a
  // cursor's fetch, and texts that define rather than run (create ... as select).
  static const std::set<std::string> unforeseen = {"if",    "else",  "while",    "exec",  "execute",
                                                   "create", "goto", "fetch",    "readtext", "dbcc",
                                                   "grant", "revoke"};
  // The other words that begin a statement; none of them sends a result set.
  static const std::set<std::string> starts = {
      "insert", "update",     "delete",  "set",      "declare",    "print",   "raiserror", "begin",
      "end",    "return",     "use",     "drop",     "alter",      "truncate", "commit",   "rollback",
      "save",   "waitfor",    "open",    "close",    "deallocate", "checkpoint", "dump",   "load",
      "writetext", "setuser", "kill",    "reconfigure", "break",   "continue"};
  enum class Kind { None, Select, Insert, Declare, Update, Other };
  Kind kind = Kind::None;
  bool returnsRows = false;        // the current SELECT sends a result set
  bool insertTakesSelect = false;  // the current INSERT may still read its rows from a SELECT
  bool cursorDeclare = false;      // the current DECLARE declares a cursor over a SELECT
  int computes = 0, depth = 0, cases = 0;
  auto finish = [&] {
    if (kind == Kind::Select && returnsRows) out.push_back(computes);
    kind = Kind::None;
  };
  for (size_t i = 0; i < tokens.size(); ++i) {
    const SqlToken& t = tokens[i];
    if (t.text == "(") {
      ++depth;
      continue;
    }
    if (t.text == ")") {
      if (--depth < 0) return out;
      continue;
    }
    if (depth > 0) continue;
    if (t.text == ";") {
      finish();
      continue;
    }
    if (!t.word) continue;
    const std::string w = Lower(t.text);
    // CASE ... END inside any statement (its ELSE and END are no statements).
    if (w == "case") {
      ++cases;
      continue;
    }
    if (cases > 0) {
      if (w == "end") --cases;
      continue;
    }
    // A batch that begins with a bare name calls that procedure.
    if (i == 0 && w != "select" && !starts.count(w) && !unforeseen.count(w)) return out;
    if (w == "select") {
      const bool unionPart = i > 0 && (IsKeyword(tokens[i - 1], "union") ||
                                       (IsKeyword(tokens[i - 1], "all") && i >= 2 && IsKeyword(tokens[i - 2], "union")));
      if (unionPart) continue;
      if (kind == Kind::Insert && insertTakesSelect) {
        insertTakesSelect = false;
        continue;
      }
      if (kind == Kind::Declare && cursorDeclare) {
        kind = Kind::Other;
        continue;
      }
      finish();
      kind = Kind::Select;
      computes = 0;
      // "select @v = ..." assigns variables and sends no rows.
      returnsRows = !(i + 2 < tokens.size() && tokens[i + 1].word && !tokens[i + 1].text.empty() &&
                      tokens[i + 1].text[0] == '@' && tokens[i + 2].text == "=");
      continue;
    }
    if (kind == Kind::Select) {
      if (w == "compute") {
        ++computes;
        continue;
      }
      if (w == "into") {
        returnsRows = false;  // select ... into a table
        continue;
      }
      if (w == "update" && IsKeyword(tokens[i - 1], "for")) continue;  // select ... for update
    }
    if (kind == Kind::Insert && w == "values") {
      insertTakesSelect = false;
      continue;
    }
    if (kind == Kind::Update && w == "set") continue;
    if (kind == Kind::Declare && w == "cursor") {
      cursorDeclare = true;
      continue;
    }
    if (unforeseen.count(w)) break;
    if (starts.count(w)) {
      finish();
      if (w == "return") return out;  // nothing after it runs
      kind = w == "insert" ? Kind::Insert : w == "declare" ? Kind::Declare : w == "update" ? Kind::Update : Kind::Other;
      insertTakesSelect = kind == Kind::Insert;
      cursorDeclare = false;
    }
  }
  finish();
  return out;
}

namespace {

// One item of a select list as ORDER BY can name it: its alias, and the column it reads when
// it is a plain column reference (with its qualifier, "a.id"); empty where there is none.
struct SelectItem {
  std::string alias;
  std::string source;
  bool star = false;
};

// The items of the first SELECT's list: from after SELECT (and DISTINCT, ALL, TOP n) up to the
// first top-level clause keyword.
std::vector<SelectItem> SelectListOf(const std::vector<SqlToken>& tokens) {
  std::vector<SelectItem> out;
  size_t i = 1;
  while (i < tokens.size() && (IsKeyword(tokens[i], "distinct") || IsKeyword(tokens[i], "all"))) ++i;
  if (i + 1 < tokens.size() && IsKeyword(tokens[i], "top")) i += 2;
  static const char* const kEnds[] = {"from",  "into",  "where",   "group", "having",
                                      "order", "union", "compute", "for"};
  std::vector<std::vector<SqlToken>> items(1);
  int depth = 0;
  for (; i < tokens.size(); ++i) {
    const SqlToken& t = tokens[i];
    if (t.text == "(") ++depth;
    if (t.text == ")") --depth;
    if (depth == 0 &&
        std::any_of(std::begin(kEnds), std::end(kEnds), [&](const char* k) { return IsKeyword(t, k); }))
      break;
    if (depth == 0 && t.text == ",") {
      items.emplace_back();
      continue;
    }
    items.back().push_back(t);
  }
  for (std::vector<SqlToken>& item : items) {
    SelectItem s;
    if (item.size() >= 3 && item[0].word && item[1].text == "=") {
      s.alias = item[0].text;  // alias = expression
      item.erase(item.begin(), item.begin() + 2);
    } else if (item.size() >= 3 && item.back().word && IsKeyword(item[item.size() - 2], "as")) {
      s.alias = item.back().text;
      item.resize(item.size() - 2);
    } else if (item.size() >= 2 && item.back().word && !IsKeyword(item.back(), "end") &&
               (item[item.size() - 2].word || item[item.size() - 2].text == ")" ||
                item[item.size() - 2].text == "'")) {
      s.alias = item.back().text;  // expression alias
      item.pop_back();
    }
    if (item.size() == 1 && item[0].word) s.source = item[0].text;
    s.star = !item.empty() && item.back().text == "*";
    out.push_back(s);
  }
  return out;
}

// The last dotted part of a name ("id" of "a.id") and what stands before it ("a", or "").
std::string ColumnPart(const std::string& name) {
  const size_t dot = name.rfind('.');
  return Lower(dot == std::string::npos ? name : name.substr(dot + 1));
}
std::string TablePart(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return std::string();
  const std::string before = name.substr(0, dot);
  const size_t prior = before.rfind('.');
  return Lower(prior == std::string::npos ? before : before.substr(prior + 1));
}

// The select-list column (1-based) an ORDER BY name stands for, 0 for none: an alias, then the
// column an item reads (a qualified name only matches the same table's, or an unqualified
// item), then, for a list with "*", the described column names.
CS_INT OrderByNameColumn(const std::string& text, const std::vector<SelectItem>& list,
                         const std::vector<std::string>& names) {
  const std::string column = ColumnPart(text), table = TablePart(text);
  if (table.empty())
    for (size_t c = 0; c < list.size(); ++c)
      if (!list[c].alias.empty() && Lower(list[c].alias) == column) return static_cast<CS_INT>(c + 1);
  CS_INT unqualified = 0;
  for (size_t c = 0; c < list.size(); ++c) {
    if (list[c].source.empty() || ColumnPart(list[c].source) != column) continue;
    const std::string sourceTable = TablePart(list[c].source);
    if (table.empty() || sourceTable == table) return static_cast<CS_INT>(c + 1);
    if (sourceTable.empty() && !unqualified) unqualified = static_cast<CS_INT>(c + 1);
  }
  if (unqualified) return unqualified;
  const bool star =
      list.empty() || std::any_of(list.begin(), list.end(), [](const SelectItem& s) { return s.star; });
  if (star)
    for (size_t c = 0; c < names.size(); ++c)
      if (Lower(names[c]) == column) return static_cast<CS_INT>(c + 1);
  return 0;
}

}  // namespace

std::vector<CS_INT> OrderByColumnsOf(const std::string& sql, const std::vector<std::string>& names) {
  std::vector<CS_INT> columns;
  const std::vector<SqlToken> tokens = SqlTokens(sql);
  std::vector<size_t> orderBys, computes;
  // One SELECT at the top level (UNION parts aside) and its one ORDER BY.
  if (!SingleSelectClauses(tokens, orderBys, computes) || orderBys.size() != 1) return columns;
  const std::vector<SelectItem> list = SelectListOf(tokens);
  const size_t orderBy = orderBys.front();
  int depth = 0;
  // The items up to the end or a clause that follows ORDER BY (COMPUTE, FOR, AT ISOLATION).
  std::vector<std::vector<SqlToken>> items(1);
  for (size_t i = orderBy; i < tokens.size(); ++i) {
    const SqlToken& t = tokens[i];
    if (t.text == "(") ++depth;
    if (t.text == ")") --depth;
    if (depth == 0 && (IsKeyword(t, "compute") || IsKeyword(t, "for") || IsKeyword(t, "at") || IsKeyword(t, "plan")))
      break;
    if (depth == 0 && t.text == ",") {
      items.emplace_back();
      continue;
    }
    items.back().push_back(t);
  }
  for (std::vector<SqlToken>& item : items) {
    if (!item.empty() && (IsKeyword(item.back(), "asc") || IsKeyword(item.back(), "desc"))) item.pop_back();
    if (item.size() != 1 || !item[0].word) continue;
    const std::string& text = item[0].text;
    if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
      const long number = std::strtol(text.c_str(), nullptr, 10);
      if (number >= 1 && number <= static_cast<long>(names.size())) columns.push_back(static_cast<CS_INT>(number));
      continue;
    }
    if (const CS_INT c = OrderByNameColumn(text, list, names);
        c >= 1 && c <= static_cast<CS_INT>(names.size()))
      columns.push_back(c);
  }
  return columns;
}

CS_RETCODE Library::ct_command(CS_COMMAND* cmd, CS_INT type, const CS_VOID* buffer, CS_INT buflen,
                               CS_INT option) {
  const CS_RETCODE rc = ::ct_command(cmd, type, buffer, buflen, option);
  std::lock_guard lock(g_mutex);
  if (rc == CS_SUCCEED && type == CS_LANG_CMD && buffer) {
    // CS_MORE builds one text in pieces: the piece after one sent with CS_MORE is appended.
    CommandText& kept = g_commandTexts[cmd];
    const std::string piece = TextArg(static_cast<const CS_CHAR*>(buffer), buflen);
    kept.text = kept.more ? kept.text + piece : piece;
    kept.more = option == CS_MORE;
    kept.single = -1;
    kept.computesKnown = false;
    kept.computes.clear();
  } else if (rc == CS_SUCCEED) {
    g_commandTexts.erase(cmd);
  }
  return rc;
}

// FreeTDS reads past the server's ORDERBY token and answers neither CS_NUMORDERCOLS nor
// CS_ORDERBY_COLS, nor CS_NUM_COMPUTES: the facade answers them from the command's text
// (ORDER BY for a text of one SELECT, COMPUTE for each statement of a batch).
CS_RETCODE Library::ct_res_info(CS_COMMAND* cmd, CS_INT type, CS_VOID* buffer, CS_INT buflen,
                                CS_INT* outlen) {
  if (type != CS_NUMORDERCOLS && type != CS_ORDERBY_COLS && type != CS_NUM_COMPUTES)
    return ::ct_res_info(cmd, type, buffer, buflen, outlen);
  if (!buffer) return CS_FAIL;
  if (type == CS_NUM_COMPUTES) {
    // The COMPUTE clauses of the statement whose result set is being read; a compute result
    // has at least its own.
    std::string text;
    bool known = true;
    {
      std::lock_guard lock(g_mutex);
      if (auto it = g_commandTexts.find(cmd); it != g_commandTexts.end() && !it->second.computesKnown) {
        text = it->second.text;
        known = false;
      }
    }
    if (!known) {
      std::vector<int> computes = ComputeClausesOfResultSets(text);
      std::lock_guard lock(g_mutex);
      if (auto it = g_commandTexts.find(cmd); it != g_commandTexts.end() && it->second.text == text) {
        it->second.computes = std::move(computes);
        it->second.computesKnown = true;
      }
    }
    CS_INT n = 0;
    CS_INT lastResult = 0;
    {
      std::lock_guard lock(g_mutex);
      if (auto it = g_commandTexts.find(cmd); it != g_commandTexts.end()) {
        const CommandText& kept = it->second;
        lastResult = kept.lastResult;
        if (kept.computesKnown && !kept.statementFailed && kept.resultSet >= 0 &&
            kept.resultSet < static_cast<int>(kept.computes.size()))
          n = kept.computes[static_cast<size_t>(kept.resultSet)];
      }
    }
    if (n == 0 && lastResult == CS_COMPUTE_RESULT) n = 1;
    std::memcpy(buffer, &n, sizeof n);
    if (outlen) *outlen = sizeof n;
    return CS_SUCCEED;
  }
  std::string text;
  int single = 0;  // the text holds one SELECT: 1 yes, 0 no, -1 not yet known
  {
    std::lock_guard lock(g_mutex);
    auto it = g_commandTexts.find(cmd);
    if (it != g_commandTexts.end()) {
      single = it->second.single;
      // A batch of many statements (a script) is looked at once, not at each of its results.
      if (single != 0) text = it->second.text;
    }
  }
  if (single < 0) {
    std::vector<size_t> orderBys, computes;
    single = SingleSelectClauses(SqlTokens(text), orderBys, computes) ? 1 : 0;
    std::lock_guard lock(g_mutex);
    if (auto it = g_commandTexts.find(cmd); it != g_commandTexts.end() && it->second.text == text)
      it->second.single = single;
  }
  if (single == 0) text.clear();
  CS_INT count = 0;
  if (::ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr) != CS_SUCCEED) return CS_FAIL;
  std::vector<std::string> names;
  for (CS_INT i = 1; i <= count; ++i) {
    CS_DATAFMT fmt{};
    if (::ct_describe(cmd, i, &fmt) != CS_SUCCEED) return CS_FAIL;
    names.emplace_back(fmt.name, static_cast<size_t>(std::clamp<CS_INT>(fmt.namelen, 0, CS_MAX_NAME)));
    names.back() = names.back().substr(0, names.back().find('\0'));
  }
  const std::vector<CS_INT> columns = text.empty() ? std::vector<CS_INT>{} : OrderByColumnsOf(text, names);
  const CS_INT n = static_cast<CS_INT>(columns.size());
  if (type == CS_NUMORDERCOLS) {
    std::memcpy(buffer, &n, sizeof n);
    if (outlen) *outlen = sizeof n;
    return CS_SUCCEED;
  }
  const CS_INT need = n * static_cast<CS_INT>(sizeof(CS_INT));
  if (outlen) *outlen = need;
  if (buflen < need) return CS_FAIL;
  if (n > 0) std::memcpy(buffer, columns.data(), static_cast<size_t>(need));
  return CS_SUCCEED;
}

// A statement that outlives the query timeout fails in the call that waits for it, with the
// connection kept (see ClientMessageHook).
CS_RETCODE Library::ct_fetch(CS_COMMAND* cmd, CS_INT type, CS_INT offset, CS_INT option, CS_INT* rows_read) {
  return WaitFor(cmd, "ct_fetch", [&] { return ::ct_fetch(cmd, type, offset, option, rows_read); });
}

CS_RETCODE Library::ct_get_data(CS_COMMAND* cmd, CS_INT item, CS_VOID* buffer, CS_INT buflen,
                                CS_INT* outlen) {
  return WaitFor(cmd, "ct_get_data", [&] { return ::ct_get_data(cmd, item, buffer, buflen, outlen); });
}

CS_RETCODE Library::ct_cancel(CS_CONNECTION* con, CS_COMMAND* cmd, CS_INT type) {
  const CS_RETCODE rc = ::ct_cancel(con, cmd, type);
  if (type == CS_CANCEL_ALL) {
    CS_CONNECTION* owner = con;
    if (!owner) {
      std::lock_guard lock(g_mutex);
      owner = ConnectionOf(cmd);
    }
    // Whatever timed out inside the cancel was given up with it.
    if (owner) ForgetTimeout(owner);
  }
  if (type == CS_CANCEL_ALL && rc == CS_SUCCEED) {
    if (con) {
      ClearPending(con, nullptr);
    } else {
      CS_CONNECTION* owner = nullptr;
      {
        std::lock_guard lock(g_mutex);
        owner = ConnectionOf(cmd);
      }
      if (owner) ClearPending(owner, cmd);
    }
  }
  return rc;
}

CS_RETCODE Library::ct_close(CS_CONNECTION* con, CS_INT option) {
  // A cursor still declared on a command of the connection is closed and deallocated first:
  // FreeTDS releases the command's hold on the cursor's state only when it sends that
  // deallocation (whatever the socket then does with it), never at close or at ct_cmd_drop.
  std::vector<CS_COMMAND*> cursors;
  size_t clientBefore = 0, serverBefore = 0;
  {
    std::lock_guard lock(g_mutex);
    for (CS_COMMAND* cmd : g_cursorCommands)
      if (ConnectionOf(cmd) == con) cursors.push_back(cmd);
    if (ConnectionState* cs = FindConnection(con)) {
      clientBefore = cs->client.size();
      serverBefore = cs->server.size();
    }
  }
  for (CS_COMMAND* cmd : cursors) {
    ::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    if (::ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC) != CS_SUCCEED)
      continue;
    // A cancel still pending on the command answers the first send.
    if (::ct_send(cmd) == CS_CANCELED) ::ct_send(cmd);
  }
  {
    // What those last sends said belongs to no caller.
    std::lock_guard lock(g_mutex);
    for (CS_COMMAND* cmd : cursors) {
      g_cursorCommands.erase(cmd);
      g_unsentDeclares.erase(cmd);
    }
    if (ConnectionState* cs = FindConnection(con)) {
      if (cs->client.size() > clientBefore) cs->client.resize(clientBefore);
      if (cs->server.size() > serverBefore) cs->server.resize(serverBefore);
    }
  }
  const CS_RETCODE rc = ::ct_close(con, option);
  ClearPending(con, nullptr);
  std::lock_guard lock(g_mutex);
  if (ConnectionState* cs = FindConnection(con)) cs->connected = false;
  return rc;
}

}  // namespace ctlib
