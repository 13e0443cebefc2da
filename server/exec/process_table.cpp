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
  if (writer_ == spid) writer_ = 0;
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

void ProcessTable::setWriter(int spid) {
  std::lock_guard lock(mutex_);
  writer_ = spid;
}

int ProcessTable::writer() const {
  std::lock_guard lock(mutex_);
  return writer_;
}

}  // namespace tabsrv
