// What the whole-server tests read from a batch's answer: its first error and the first value it
// selected.
#pragma once

#include <string>

#include "tests/support/ct_client.h"

namespace tabtest {

// The number of the batch's first error, 0 when there was none.
inline int errorOf(const CtBatch& b) {
  const auto* e = b.firstError();
  return e ? e->number : 0;
}

// The text of the batch's first error, empty when there was none.
inline std::string errorText(const CtBatch& b) {
  const auto* e = b.firstError();
  return e ? e->text : std::string();
}

// The first value of the first result set with rows, "error N: text" when the batch failed, or
// "<none>".
inline std::string scalar(CtClient& c, const std::string& sql) {
  CtBatch b = c.run(sql);
  if (const auto* e = b.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  for (const auto& set : b.sets)
    if (!set.rows.empty() && set.rows[0][0]) return *set.rows[0][0];
  return "<none>";
}

}  // namespace tabtest
