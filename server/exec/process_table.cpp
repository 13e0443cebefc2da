// The session table behind master..sysprocesses: spid allocation and guarded updates.
#include "server/exec/process_table.h"

#include <algorithm>

namespace tabsrv {

int ProcessTable::add(ProcessInfo info) {
  std::lock_guard lock(mutex_);
  // Entries are ordered by spid: the first gap is the lowest free number.
  int spid = 1;
  auto it = entries_.begin();
  while (it != entries_.end() && it->spid == spid) {
    ++spid;
    ++it;
  }
  info.spid = spid;
  entries_.insert(it, std::move(info));
  return spid;
}

void ProcessTable::remove(int spid) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [spid](const ProcessInfo& p) { return p.spid == spid; });
  std::erase_if(writers_, [spid](const auto& w) { return w.second == spid; });
  interrupts_.erase(spid);
  for (auto& p : entries_)
    if (p.blockedBy == spid) p.blockedBy = 0;
}

void ProcessTable::update(int spid, const std::function<void(ProcessInfo&)>& change) {
  std::lock_guard lock(mutex_);
  for (auto& p : entries_)
    if (p.spid == spid) change(p);
}

std::optional<ProcessInfo> ProcessTable::find(int spid) const {
  std::lock_guard lock(mutex_);
  for (const auto& p : entries_)
    if (p.spid == spid) return p;
  return std::nullopt;
}

std::vector<ProcessInfo> ProcessTable::snapshot() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void ProcessTable::setWriter(const std::string& database, int spid) {
  std::lock_guard lock(mutex_);
  writers_[database] = spid;
}

void ProcessTable::releaseWriters(int spid) {
  std::lock_guard lock(mutex_);
  std::erase_if(writers_, [spid](const auto& w) { return w.second == spid; });
}

int ProcessTable::writerOfLocked(const std::string& database) const {
  auto it = writers_.find(database);
  return it == writers_.end() ? 0 : it->second;
}

int ProcessTable::writerOf(const std::string& database) const {
  std::lock_guard lock(mutex_);
  return writerOfLocked(database);
}

std::vector<std::pair<std::string, int>> ProcessTable::writers() const {
  std::lock_guard lock(mutex_);
  return {writers_.begin(), writers_.end()};
}

bool ProcessTable::blocks(int spid) const {
  std::lock_guard lock(mutex_);
  for (const ProcessInfo& p : entries_)
    if (p.blockedBy == spid) return true;
  return false;
}

bool ProcessTable::closesCycle(int spid, const std::string& database) const {
  std::lock_guard lock(mutex_);
  std::string wanted = database;
  // Each session waits for one lock at a time, so the waits form chains; a chain is at most as
  // long as there are sessions.
  for (size_t step = 0; step <= entries_.size(); ++step) {
    int holder = writerOfLocked(wanted);
    if (holder == 0) return false;
    if (holder == spid) return true;
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [holder](const ProcessInfo& p) { return p.spid == holder; });
    if (it == entries_.end() || it->waitingFor.empty()) return false;
    wanted = it->waitingFor;
  }
  return false;
}

void ProcessTable::setInterrupt(int spid, std::function<void()> interrupt) {
  std::lock_guard lock(mutex_);
  if (interrupt)
    interrupts_[spid] = std::move(interrupt);
  else
    interrupts_.erase(spid);
}

bool ProcessTable::interrupt(int spid) {
  std::lock_guard lock(mutex_);
  auto it = interrupts_.find(spid);
  if (it == interrupts_.end()) return false;
  // Under the lock, so the session cannot clear it (and go) meanwhile.
  it->second();
  return true;
}

}  // namespace tabsrv
