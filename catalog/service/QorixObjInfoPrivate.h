// What the catalogue service's source files share and no caller needs: the guard of one read
// (wait cursor and the closing cancel) and the text conversions of catalogue columns.
#pragma once

#include <QString>
#include <cstdint>

#include "access/QorixEnhQuery.h"
#include "access/UiServices.h"
#include "catalog/service/QorixObjInfo.h"

// One read of the catalogue service: shows the wait cursor while it lasts and, also when an
// exception leaves the read, restores the cursor and cancels what the private query still has
// pending, so the connection never keeps results of a catalogue read.
class TQorixObjInfo::ReadScope {
 public:
  explicit ReadScope(TQorixObjInfo& info) : info_(info), cursor_(info.ExecCursor, info.UseExecCursor) {}
  ~ReadScope() {
    try {
      info_.CancelQuery();
    } catch (...) {
      // A cancel that fails on a broken connection must not mask the read's own outcome.
    }
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  TQorixObjInfo& info_;
  TCursorGuard cursor_;
};

namespace objinfo {

// The run-time library's text-to-integer conversion: "'x' is not a valid integer value" for
// text that is not a number; empty (NULL) text reads as 0.
int32_t ToInt(const QString& text);
// The first Width characters (the short texts of the detail records).
QString Cut(const QString& text, int width);

}  // namespace objinfo
