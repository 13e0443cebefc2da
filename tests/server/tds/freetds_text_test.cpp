// Compute rows and long values through FreeTDS's Client-Library: ct_compute_info on a COMPUTE
// BY result, and a 1 MiB text and image (with NULs) read in chunks with ct_get_data and
// described by ct_data_info, whole or cut by the session's text size.
#include <ctpublic.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/server/tds/ct_results.h"
#include "tests/server/tds/freetds_fixture.h"

namespace {

using tabtest::FreeTdsTest;

CS_COMMAND* sendLanguage(CS_CONNECTION* con, const std::string& sql) {
  CS_COMMAND* cmd = nullptr;
  EXPECT_EQ(ct_cmd_alloc(con, &cmd), CS_SUCCEED);
  EXPECT_EQ(ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
  return cmd;
}

CS_INT computeInfo(CS_COMMAND* cmd, CS_INT what, CS_INT column) {
  CS_INT value = -1;
  EXPECT_EQ(ct_compute_info(cmd, what, column, &value, sizeof(value), nullptr), CS_SUCCEED);
  return value;
}

TEST_F(FreeTdsTest, ComputeRowsArriveAfterTheRowsTheySum) {
  auto client = connected();
  CS_COMMAND* cmd = sendLanguage(client->connection(), "compute");
  std::vector<std::string> answers;
  std::vector<std::vector<std::string>> computes;
  CS_INT type = 0;
  while (ct_results(cmd, &type) == CS_SUCCEED) {
    answers.push_back(tabtest::resultName(type));
    if (type == CS_COMPUTE_RESULT) {
      // Column numbers start at 1: ct_compute_info with column 0 reads out of bounds.
      EXPECT_EQ(computeInfo(cmd, CS_COMP_ID, CS_UNUSED), 1);
      EXPECT_EQ(computeInfo(cmd, CS_COMP_OP, 1), CS_OP_SUM);
      EXPECT_EQ(computeInfo(cmd, CS_COMP_OP, 2), CS_OP_MAX);
      EXPECT_EQ(computeInfo(cmd, CS_COMP_COLID, 1), 2);
      EXPECT_EQ(computeInfo(cmd, CS_COMP_COLID, 2), 2);
      EXPECT_EQ(computeInfo(cmd, CS_BYLIST_LEN, CS_UNUSED), 1);
      CS_SMALLINT bylist[4] = {0, 0, 0, 0};
      CS_INT outlen = 0;
      EXPECT_EQ(ct_compute_info(cmd, CS_COMP_BYLIST, CS_UNUSED, bylist, sizeof(bylist), &outlen), CS_SUCCEED);
      EXPECT_EQ(bylist[0], 1);
    }
    if (type == CS_ROW_RESULT || type == CS_COMPUTE_RESULT) {
      tabtest::CtResultSet set;
      EXPECT_EQ(tabtest::fetchAll(cmd, set), CS_END_DATA);
      if (type == CS_COMPUTE_RESULT) {
        ASSERT_EQ(set.rows.size(), 1u);
        computes.push_back({tabtest::formatRow(set.rows[0])});
        EXPECT_EQ(set.columns, (std::vector<std::string>{"sum", "max"}));
      }
    }
  }
  ct_cmd_drop(cmd);
  EXPECT_EQ(answers, (std::vector<std::string>{"ROW", "COMPUTE", "ROW", "COMPUTE", "CMD_DONE"}));
  EXPECT_EQ(computes, (std::vector<std::vector<std::string>>{{"30 | 20"}, {"5 | 5"}}));
}

// Reads a column with ct_get_data in pieces of `chunk` bytes; `last` gets the final code.
std::string getData(CS_COMMAND* cmd, CS_INT column, size_t chunk, CS_RETCODE* last, int* pieces) {
  std::string value;
  std::vector<char> buffer(chunk);
  *pieces = 0;
  for (;;) {
    CS_INT got = 0;
    CS_RETCODE rc = ct_get_data(cmd, column, buffer.data(), static_cast<CS_INT>(chunk), &got);
    if (rc != CS_SUCCEED && rc != CS_END_ITEM && rc != CS_END_DATA) {
      *last = rc;
      return value;
    }
    // The last piece comes with CS_END_ITEM / CS_END_DATA and must be kept.
    value.append(buffer.data(), static_cast<size_t>(got));
    ++*pieces;
    if (rc != CS_SUCCEED) {
      *last = rc;
      return value;
    }
  }
}

TEST_F(FreeTdsTest, OneMebibyteTextAndImageReadBackInChunks) {
  auto client = connected();
  const size_t size = 1 << 20;
  for (CS_INT textSize : {2000000, 70000}) {
    SCOPED_TRACE("textsize " + std::to_string(textSize));
    ASSERT_FALSE(client->run("set textsize " + std::to_string(textSize)).failed);
    const size_t expected = std::min<size_t>(size, static_cast<size_t>(textSize));
    CS_COMMAND* cmd = sendLanguage(client->connection(), "bigtext " + std::to_string(size));
    CS_INT type = 0;
    ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
    ASSERT_EQ(type, CS_ROW_RESULT);
    ASSERT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);

    CS_RETCODE last = CS_FAIL;
    int pieces = 0;
    std::string text = getData(cmd, 1, 65536, &last, &pieces);
    EXPECT_EQ(last, CS_END_ITEM);
    EXPECT_GE(pieces, 2);
    EXPECT_TRUE(text == tabtest::bigText(size).substr(0, expected)) << "text of " << text.size() << " bytes";
    CS_IODESC io;
    std::memset(&io, 0, sizeof(io));
    ASSERT_EQ(ct_data_info(cmd, CS_GET, 1, &io), CS_SUCCEED);
    EXPECT_EQ(std::string(io.name, static_cast<size_t>(io.namelen)), "t.t");
    EXPECT_EQ(io.textptrlen, 16);
    EXPECT_EQ(io.timestamplen, 8);
    EXPECT_EQ(io.total_txtlen, static_cast<CS_INT>(expected));
    // FreeTDS reports the server's type code here (SYBTEXT 35, SYBIMAGE 34), not CS_TEXT_TYPE.
    EXPECT_EQ(io.datatype, 35);

    std::string image = getData(cmd, 2, 100000, &last, &pieces);
    EXPECT_EQ(last, CS_END_DATA);
    tabsrv::Bytes want = tabtest::bigImage(size);
    want.resize(expected);
    EXPECT_TRUE(image == std::string(want.begin(), want.end())) << "image of " << image.size() << " bytes";
    ASSERT_EQ(ct_data_info(cmd, CS_GET, 2, &io), CS_SUCCEED);
    EXPECT_EQ(io.datatype, 34);
    EXPECT_EQ(io.total_txtlen, static_cast<CS_INT>(expected));

    EXPECT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr), CS_END_DATA);
    tabtest::CmdResults rest = tabtest::drainResults(cmd);
    EXPECT_EQ(rest.sequence(), "CMD_DONE");
    ct_cmd_drop(cmd);
  }
}

}  // namespace
