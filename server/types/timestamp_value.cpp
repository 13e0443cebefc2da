// Timestamp column values: one process-wide counter, started from the microseconds of the clock
// so that values written before a restart stay below the new ones, written as eight big-endian
// bytes so that they order as binary values do.
#include "server/types/timestamp_value.h"

#include <atomic>
#include <chrono>

#include "server/types/function_support.h"

namespace tabsrv {

namespace {

std::atomic<uint64_t>& counter() {
  static std::atomic<uint64_t> value{static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count())};
  return value;
}
std::atomic<uint64_t> last{0};

Bytes bytesOf(uint64_t v) {
  Bytes b(8);
  for (int i = 7; i >= 0; --i, v >>= 8) b[static_cast<size_t>(i)] = static_cast<uint8_t>(v & 0xFF);
  return b;
}

void timestampFn(sqlite3_context* ctx, int, sqlite3_value**) {
  Bytes b = nextTimestamp();
  sqlite3_result_blob(ctx, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

}  // namespace

Bytes nextTimestamp() {
  uint64_t v = counter().fetch_add(1) + 1;
  last.store(v);
  return bytesOf(v);
}

Bytes lastTimestamp() {
  return bytesOf(last.load());
}

int registerTimestampFunction(sqlite3* db) {
  return fn::define(db, "t_timestamp", 0, timestampFn, false);
}

}  // namespace tabsrv
