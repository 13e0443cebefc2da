// The status words the catalogue keeps about a table, as the family keeps them: sysobjects.sysstat2
// of a user table (referential and foreign key constraints, more than one check constraint, a
// primary key constraint, an identity column, no variable-length column), worked out again from
// the catalogue whenever a statement changes what they describe.
#pragma once

#include <cstdint>
#include <string>

namespace tabsrv {

class SessionImpl;

// sysobjects.sysstat2 bits of a table.
constexpr int64_t kStat2Referential = 0x1;    // another table's foreign key references it
constexpr int64_t kStat2ForeignKey = 0x2;     // it declares a foreign key
constexpr int64_t kStat2ManyChecks = 0x4;     // more than one check constraint
constexpr int64_t kStat2PrimaryKey = 0x8;     // a primary key constraint
constexpr int64_t kStat2Identity = 0x40;      // an identity column
constexpr int64_t kStat2FixedLength = 0x200;  // no variable-length column

// Sets the sysstat2 bits of table TableId in Database from its columns, its indexes and its check
// constraints; the two foreign key bits are kept as they are.
void refreshTableStatus(SessionImpl& session, const std::string& database, int32_t tableId);

// Sets Bits in the sysstat2 of table TableId in Database (the foreign key bits, which the
// catalogue keeps no other record of).
void addTableStatus(SessionImpl& session, const std::string& database, int32_t tableId, int64_t bits);

}  // namespace tabsrv
