// A session with an open cursor and another session writing: the cursor's rows stay as they were
// when it began to read, and the cursor's own session can still write once the other session
// has committed (its stepping query would otherwise hold a snapshot older than the last commit).
#include <gtest/gtest.h>

#include "recording_sink.h"

namespace tabtest {
namespace {

std::vector<std::string> column0(const RecordingSink& s) {
  std::vector<std::string> out;
  for (const auto& set : s.sets)
    for (const auto& r : set.rows) out.push_back(show(r.at(0)));
  return out;
}

TEST_F(EngineTest, ACursorsSessionWritesAfterAnotherSessionCommitted) {
  ASSERT_EQ(run("create table t (id int not null, flag int not null)\n"
                "insert t values (1, 0) insert t values (2, 0) insert t values (3, 0)")
                .errorNumbers(),
            std::vector<int>{});
  RecordingSink opened = run("declare c cursor for select id from t\nopen c\nfetch c");
  ASSERT_EQ(opened.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(column0(opened), std::vector<std::string>{"1"});

  auto other = login();
  ASSERT_EQ(run("insert t values (4, 0)\nupdate t set flag = 9 where id = 2", other.get()).errorNumbers(),
            std::vector<int>{});

  // The cursor's session writes, in a transaction of its own as well.
  RecordingSink wrote = run("update t set flag = 1 where id = 1\n"
                            "begin tran update t set flag = 2 where id = 3 commit tran\n"
                            "fetch c\nfetch c\nfetch c");
  ASSERT_EQ(wrote.errorNumbers(), std::vector<int>{}) << wrote.messages.at(0).text;
  // The rows the cursor began to read: not the other session's new row.
  EXPECT_EQ(column0(wrote), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(scalar("select sum(flag) from t"), "12");
  EXPECT_EQ(column0(run("select count(*) from t", other.get())), std::vector<std::string>{"4"});
  run("close c deallocate c");
}

TEST_F(EngineTest, ARollbackWhileACursorReadsKeepsTheCursorsRows) {
  ASSERT_EQ(run("create table t (id int not null)\n"
                "insert t values (1) insert t values (2) insert t values (3)")
                .errorNumbers(),
            std::vector<int>{});
  RecordingSink s = run("declare c cursor for select id from t\n"
                        "open c\n"
                        "fetch c\n"
                        "begin tran delete t rollback tran\n"
                        "fetch c\n"
                        "fetch c\n"
                        "fetch c\n"
                        "close c");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(column0(s), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(scalar("select count(*) from t"), "3");
}

}  // namespace
}  // namespace tabtest
