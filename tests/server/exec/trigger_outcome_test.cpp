// What the client is told of a statement whose trigger undid it: the DONE of the statement
// carries no rows (a client counts them as applied otherwise), the rows are gone, and the
// batch goes on or stops as the trigger's kind of rollback says.
#include <gtest/gtest.h>

#include "recording_sink.h"

namespace tabtest {
namespace {

struct TriggerCase {
  const char* name;
  const char* body;       // the trigger body on table `item`
  const char* statement;  // a statement on `item`, followed in its batch by "select 'after'"
  bool doneError;         // the statement's DONE
  int32_t doneCount;
  std::vector<int> errors;  // error numbers the batch raised
  const char* rowsLeft;     // select count(*) from item afterwards (one row was there before)
  bool batchGoesOn;         // whether "select 'after'" ran
};

class TriggerOutcome : public EngineTest, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(TriggerOutcome, StatementDoneAndRows) {
  const TriggerCase& c = GetParam();
  ASSERT_EQ(run("create table item (id int not null, qty int not null)\n"
                "insert item values (1, 1)")
                .errorNumbers(),
            std::vector<int>{});
  ASSERT_EQ(run(std::string("create trigger item_check on item for insert, update, delete as\n") + c.body)
                .errorNumbers(),
            std::vector<int>{});
  RecordingSink s = run(std::string(c.statement) + "\nselect 'after'");
  EXPECT_EQ(s.errorNumbers(), c.errors);
  // The statement's own DONE is the last DONE (not DONEINPROC) before the select's.
  int statementDone = -1;
  int doneIndex = 0;
  for (const std::string& e : s.events) {
    if (e == "done" || e == "doneinproc" || e == "doneproc") {
      if (e == "done" && statementDone < 0) statementDone = doneIndex;
      ++doneIndex;
    }
  }
  ASSERT_GE(statementDone, 0);
  EXPECT_EQ(s.dones[static_cast<size_t>(statementDone)].error, c.doneError);
  EXPECT_EQ(s.dones[static_cast<size_t>(statementDone)].count, c.doneCount);
  bool after = !s.sets.empty() && s.sets.back().rows.size() == 1 && show(s.sets.back().rows[0][0]) == "after";
  EXPECT_EQ(after, c.batchGoesOn);
  EXPECT_EQ(scalar("select count(*) from item"), c.rowsLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, TriggerOutcome,
    ::testing::Values(
        TriggerCase{"Accepts", "print 'ok'", "insert item values (2, 2)", false, 1, {}, "2", true},
        TriggerCase{"RollbackTransaction", "rollback transaction", "insert item values (2, 2)", false, 0, {}, "1",
                    false},
        TriggerCase{"RollbackTransactionOnDelete", "rollback transaction", "delete item", false, 0, {}, "1", false},
        TriggerCase{"RollbackTrigger", "rollback trigger", "insert item values (2, 2)", false, 0, {}, "1", true},
        TriggerCase{"RollbackTriggerOnUpdate", "if update(qty) rollback trigger", "update item set qty = 5",
                    false, 0, {}, "1", true},
        TriggerCase{"RollbackTriggerWithRaiserror", "rollback trigger with raiserror 25002 'no: %1!', 7",
                    "insert item values (2, 2)", true, -1, {25002}, "1", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, RollbackTriggerUndoesTheStatementAndTheTriggerOnly) {
  ASSERT_EQ(run("create table item (id int not null)\n"
                "create table trail (id int not null)")
                .errorNumbers(),
            std::vector<int>{});
  ASSERT_EQ(run("create trigger item_ins on item for insert as\n"
                "  insert trail select id from inserted\n"
                "  if exists (select 1 from inserted where id < 0)\n"
                "    rollback trigger with raiserror 25003 'negative id %1!', -1\n"
                "  insert trail values (100)")
                .errorNumbers(),
            std::vector<int>{});
  RecordingSink s = run("begin tran\n"
                        "insert item values (1)\n"
                        "insert item values (-1)\n"
                        "select @@error, @@transtate, @@trancount\n"
                        "insert item values (2)\n"
                        "commit tran");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{25003});
  EXPECT_EQ(s.messages.back().text, "negative id -1");
  EXPECT_EQ(s.messages.back().procedure, "item_ins");
  // The line of the rollback in the trigger's text, as a raiserror there would give.
  EXPECT_EQ(s.messages.back().line, 4);
  ASSERT_EQ(s.sets.size(), 1u);
  EXPECT_EQ(show(s.sets[0].rows[0][0]) + " " + show(s.sets[0].rows[0][1]) + " " + show(s.sets[0].rows[0][2]),
            "25003 2 1");
  // The first and last inserts and their triggers' rows stay; the refused one and its trail go.
  EXPECT_EQ(scalar("select count(*) from item"), "2");
  EXPECT_EQ(scalar("select count(*) from trail"), "4");
  EXPECT_EQ(scalar("select count(*) from trail where id = -1"), "0");
}

}  // namespace
}  // namespace tabtest
