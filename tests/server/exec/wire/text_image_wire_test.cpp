// Text and image through Client-Library: a 1 MiB text and a 1 MiB image with NUL bytes read
// back byte for byte in chunks with ct_get_data, ct_data_info naming the column, and the
// session's text size cutting them.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/server_fixture.h"
#include "wire_support.h"

namespace tabtest {
namespace {

constexpr size_t kSize = 1 << 20;

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class TextImageWire : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.connect());
    for (size_t i = 0; i < kSize; ++i) text += static_cast<char>('a' + i % 26);
    for (size_t i = 0; i < kSize; ++i) image += static_cast<char>(i % 7 == 0 ? 0 : (i * 31) % 256);
    ASSERT_FALSE(client.run("create table blob (id int not null, t text null, i image null)").firstError());
    CtBatch b = client.run("insert blob values (1, '" + text + "', 0x" + hex(image) + ")");
    ASSERT_FALSE(b.firstError()) << b.firstError()->text;
  }

  // Selects `sql` (one row, two text/image columns) and reads both columns with ct_get_data in
  // 4000-byte pieces; `name` gets ct_data_info's column name of the first.
  bool readBoth(const std::string& sql, std::string& first, std::string& second,
                std::string* name = nullptr) {
    CS_COMMAND* cmd = nullptr;
    ct_cmd_alloc(client.connection(), &cmd);
    bool ok =
        ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED) == CS_SUCCEED &&
        ct_send(cmd) == CS_SUCCEED;
    CS_INT type = 0;
    bool sawRow = false;
    while (ok && ct_results(cmd, &type) == CS_SUCCEED) {
      if (type != CS_ROW_RESULT) continue;
      CS_INT rows = 0;
      CS_RETCODE rc;
      while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows)) == CS_SUCCEED) {
        sawRow = true;
        for (CS_INT col = 1; col <= 2; ++col) {
          std::string& out = col == 1 ? first : second;
          std::vector<char> piece(4000);
          CS_INT got = 0;
          CS_RETCODE g;
          while ((g = ct_get_data(cmd, col, piece.data(), static_cast<CS_INT>(piece.size()), &got)) ==
                 CS_SUCCEED)
            out.append(piece.data(), static_cast<size_t>(got));
          if (g != CS_END_ITEM && g != CS_END_DATA) ok = false;
          out.append(piece.data(), static_cast<size_t>(got));
          if (col == 1 && name) {
            CS_IODESC io{};
            if (ct_data_info(cmd, CS_GET, col, &io) == CS_SUCCEED)
              *name = std::string(io.name, static_cast<size_t>(io.namelen));
          }
        }
      }
      if (rc != CS_END_DATA) ok = false;
    }
    ct_cmd_drop(cmd);
    return ok && sawRow;
  }

  ServerFixture server;
  CtClient client;
  std::string text, image;
};

TEST_F(TextImageWire, OneMebibyteReadsBackByteForByte) {
  std::string t, i, name;
  ASSERT_TRUE(readBoth("set textsize 2000000 select t, i from blob", t, i, &name));
  EXPECT_EQ(t.size(), kSize);
  EXPECT_TRUE(t == text);
  EXPECT_EQ(i.size(), kSize);
  EXPECT_TRUE(i == image);
  EXPECT_EQ(name, "blob.t");
}

TEST_F(TextImageWire, TextSizeCutsBothValues) {
  std::string t, i;
  ASSERT_TRUE(readBoth("set textsize 1000 select t, i from blob", t, i));
  EXPECT_EQ(t, text.substr(0, 1000));
  EXPECT_EQ(i, image.substr(0, 1000));
  std::string t2, i2;
  ASSERT_TRUE(readBoth("set textsize 0 select t, i from blob", t2, i2));
  EXPECT_EQ(t2.size(), 32768u);  // the default again
}

}  // namespace
}  // namespace tabtest
