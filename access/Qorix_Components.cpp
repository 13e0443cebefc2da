// The process-wide lists, the registry lock and the SQL-monitor channel over a local
// datagram socket (the stand-in for WM_COPYDATA to the monitor's window).

#include "access/Qorix_Components.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

std::recursive_mutex& RegistryLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::vector<TQorixDatabaseBase*>& DatabaseList() {
  static std::vector<TQorixDatabaseBase*> list;
  return list;
}

std::vector<TComponent*>& DbAwareComponentList() {
  static std::vector<TComponent*> list;
  return list;
}

std::vector<TComponent*>& DataSetList() {
  static std::vector<TComponent*> list;
  return list;
}

void RegisterDatabase(TQorixDatabaseBase* database) {
  if (!database) return;
  std::lock_guard lock(RegistryLock());
  auto& list = DatabaseList();
  if (std::find(list.begin(), list.end(), database) == list.end()) list.push_back(database);
}

void UnregisterDatabase(TQorixDatabaseBase* database) {
  std::lock_guard lock(RegistryLock());
  auto& list = DatabaseList();
  list.erase(std::remove(list.begin(), list.end(), database), list.end());
}

TQorixDatabaseBase* FindDatabase(const QString& name) {
  std::lock_guard lock(RegistryLock());
  for (TQorixDatabaseBase* db : DatabaseList())
    if (db->Name() == name) return db;
  return nullptr;
}

void RegisterComponent(std::vector<TComponent*>& list, TComponent* component) {
  if (!component) return;
  std::lock_guard lock(RegistryLock());
  if (std::find(list.begin(), list.end(), component) == list.end()) list.push_back(component);
}

void UnregisterComponent(std::vector<TComponent*>& list, TComponent* component) {
  std::lock_guard lock(RegistryLock());
  list.erase(std::remove(list.begin(), list.end(), component), list.end());
}

namespace {

struct MonitorTarget {
  std::mutex mutex;
  QString className = QStringLiteral("tf_main");
  QString title = QStringLiteral("Stelvane");
};

MonitorTarget& Target() {
  static MonitorTarget target;
  return target;
}

// One datagram socket for the process; sendto on it is safe from any thread.
int MonitorSocket() {
  static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  return fd;
}

void PutLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Datagrams much larger than this fail with EMSGSIZE on default socket buffers; a longer
// line is cut rather than lost.
constexpr size_t kMaxLine = 60000;

// How long a line waits for a listening monitor with a full queue.
constexpr std::chrono::milliseconds kMonitorGrace{20};

}  // namespace

std::string SqlMonitorSocketName() {
  MonitorTarget& t = Target();
  std::lock_guard lock(t.mutex);
  return "tabulon-sqlmonitor/" + t.className.toStdString() + "/" + t.title.toStdString();
}

void SetSqlMonitorWindow(const QString& className, const QString& title) {
  MonitorTarget& t = Target();
  std::lock_guard lock(t.mutex);
  t.className = className;
  t.title = title;
}

void SendToSqlMonitor(THandle sender, const QString& text) {
  const int fd = MonitorSocket();
  if (fd < 0) return;
  std::string line = text.toStdString();
  if (line.size() > kMaxLine) {
    // Cut before a character, never inside one: UTF-8 continuation bytes are 10xxxxxx.
    size_t cut = kMaxLine;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
  }
  std::string frame;
  frame.reserve(16 + line.size() + 1);
  PutLe(frame, kSqlMonitorId, 4);
  PutLe(frame, line.size() + 1, 4);
  PutLe(frame, sender, 8);
  frame += line;
  frame.push_back('\0');

  const std::string name = SqlMonitorSocketName();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL, no file to create or clean up.
  const size_t n = std::min(name.size(), sizeof(addr.sun_path) - 1);
  std::memcpy(addr.sun_path + 1, name.data(), n);
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  // No monitor bound: ECONNREFUSED at once and the line is dropped, as when no monitor
  // window exists. A listening monitor whose queue is full (Linux queues only ten datagrams
  // per socket by default) gets a short grace period to catch up, bounded so a stalled
  // monitor never holds up the caller for long; after it the line is dropped too.
  const auto deadline = std::chrono::steady_clock::now() + kMonitorGrace;
  while (::sendto(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                  reinterpret_cast<sockaddr*>(&addr), len) < 0) {
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}
