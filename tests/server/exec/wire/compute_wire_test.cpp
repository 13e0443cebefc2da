// Compute rows through Client-Library: the ct_results order of COMPUTE BY, and ct_compute_info
// reporting each compute's operator, operand column and BY list.
#include <gtest/gtest.h>

#include "tests/support/server_fixture.h"
#include "wire_support.h"

namespace tabtest {
namespace {

TEST(ComputeWire, GroupsAndTheirComputeRowsInOrder) {
  ServerFixture server;
  CtClient client;
  ASSERT_TRUE(client.connect());
  ASSERT_FALSE(client
                   .run("create table s (k char(1) not null, q int not null)\n"
                        "insert s values ('a', 1) insert s values ('a', 2) insert s values ('b', 7)")
                   .firstError());
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client.connection(), &cmd), CS_SUCCEED);
  char sql[] = "select k, q from s order by k compute sum(q), max(q) by k";
  ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, sql, CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  std::vector<std::string> trace;
  std::vector<std::string> computed;
  CS_INT type = 0;
  while (ct_results(cmd, &type) == CS_SUCCEED) {
    if (type == CS_COMPUTE_RESULT) {
      trace.push_back("COMPUTE");
      CS_INT op = 0, colid = 0, id = 0, bylen = 0;
      ASSERT_EQ(ct_compute_info(cmd, CS_COMP_ID, CS_UNUSED, &id, CS_UNUSED, nullptr), CS_SUCCEED);
      ASSERT_EQ(ct_compute_info(cmd, CS_COMP_OP, 1, &op, CS_UNUSED, nullptr), CS_SUCCEED);
      ASSERT_EQ(ct_compute_info(cmd, CS_COMP_COLID, 1, &colid, CS_UNUSED, nullptr), CS_SUCCEED);
      ASSERT_EQ(ct_compute_info(cmd, CS_BYLIST_LEN, CS_UNUSED, &bylen, CS_UNUSED, nullptr), CS_SUCCEED);
      EXPECT_EQ(id, 1);
      EXPECT_EQ(op, CS_OP_SUM);
      EXPECT_EQ(colid, 2);
      EXPECT_EQ(bylen, 1);
      CS_INT sum = 0, max = 0;
      CS_DATAFMT fmt{};
      fmt.datatype = CS_INT_TYPE;
      fmt.maxlength = sizeof(CS_INT);
      fmt.count = 1;
      ASSERT_EQ(ct_bind(cmd, 1, &fmt, &sum, nullptr, nullptr), CS_SUCCEED);
      ASSERT_EQ(ct_bind(cmd, 2, &fmt, &max, nullptr, nullptr), CS_SUCCEED);
      CS_INT rows = 0;
      while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED)
        computed.push_back(std::to_string(sum) + "/" + std::to_string(max));
    } else if (type == CS_ROW_RESULT) {
      trace.push_back("ROW");
      CS_INT rows = 0;
      while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
      }
    } else if (type == CS_CMD_DONE) {
      trace.push_back("CMD_DONE");
    }
  }
  ct_cmd_drop(cmd);
  EXPECT_EQ(trace, (std::vector<std::string>{"ROW", "COMPUTE", "ROW", "COMPUTE", "CMD_DONE"}));
  EXPECT_EQ(computed, (std::vector<std::string>{"3/2", "7/7"}));
}

}  // namespace
}  // namespace tabtest
