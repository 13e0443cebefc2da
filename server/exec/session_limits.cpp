// What one session may hold at once: prepared statements and cursors take memory until they are
// deallocated, so "session prepared statements" and "session open cursors" (sp_configure) bound
// them, and one client cannot grow the server without limit.
#include "server/exec/session_impl.h"

namespace tabsrv {
namespace {

// Below every limit the parameters allow: no need to read the configuration.
constexpr size_t kAlwaysRoom = 16;

}  // namespace

void SessionImpl::requireSessionRoom(const char* parameter, size_t held) {
  if (held < kAlwaysRoom) return;
  int32_t limit = 0;
  for (const ConfigParameter& p : configParameters(db_, parameter))
    if (p.name == parameter) limit = p.runValue;
  if (limit <= 0 || held < static_cast<size_t>(limit)) return;
  const bool prepared = std::string_view(parameter) == kSessionPreparedStatements;
  throw SqlError(prepared ? 7410 : 7411, 16,
                 "This session already holds " + std::to_string(held) +
                     (prepared ? " prepared statements" : " cursors") + ", the most '" + parameter +
                     "' allows. " +
                     (prepared ? "Deallocate prepared statements it no longer needs"
                               : "Close and deallocate cursors it no longer needs") +
                     ", or ask the System Administrator to raise the limit with sp_configure.");
}

}  // namespace tabsrv
