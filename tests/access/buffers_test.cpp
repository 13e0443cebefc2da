// The row and column buffers: the typed readers (date-time conversions above all), the I/O
// descriptor, column descriptions from CS_DATAFMT, the managers, and the datatype names.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "access/QxClasses.h"
#include "access/SybType.h"

namespace {

template <class T>
void Put(TCSRecordData& r, const T& v) {
  std::memcpy(r.AllocData(sizeof(T)), &v, sizeof(T));
}

struct DateTimeCase {
  const char* name;
  CS_INT days;
  CS_INT ticks;
  const char* expected;  // yyyy-MM-dd hh:mm:ss.zzz
};

class DateTimeReader : public ::testing::TestWithParam<DateTimeCase> {};

TEST_P(DateTimeReader, ConvertsDaysAndTicks) {
  TCSRecordData r;
  CS_DATETIME dt{GetParam().days, GetParam().ticks};
  Put(r, dt);
  EXPECT_EQ(r.AsDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz").toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DateTimeReader,
    ::testing::Values(DateTimeCase{"epoch", 0, 0, "1900-01-01 00:00:00.000"},
                      DateTimeCase{"one_second", 0, 300, "1900-01-01 00:00:01.000"},
                      DateTimeCase{"one_tick_rounds_down", 0, 1, "1900-01-01 00:00:00.003"},
                      DateTimeCase{"two_ticks_round_up", 0, 2, "1900-01-01 00:00:00.007"},
                      DateTimeCase{"last_tick_of_day", 0, 25919999, "1900-01-01 23:59:59.997"},
                      DateTimeCase{"leap_day_2000", 36583, 0, "2000-02-29 00:00:00.000"},
                      DateTimeCase{"before_1900", -1, 0, "1899-12-31 00:00:00.000"},
                      DateTimeCase{"earliest_datetime", -53690, 0, "1753-01-01 00:00:00.000"},
                      DateTimeCase{"latest_datetime", 2958463, 25919999, "9999-12-31 23:59:59.997"},
                      DateTimeCase{"spring_forward_hour_kept", 46108, 2 * 3600 * 300 + 30 * 60 * 300,
                                   "2026-03-29 02:30:00.000"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DateTime4Case {
  const char* name;
  CS_USHORT days;
  CS_USHORT minutes;
  const char* expected;
};

class DateTime4Reader : public ::testing::TestWithParam<DateTime4Case> {};

TEST_P(DateTime4Reader, ConvertsDaysAndMinutes) {
  TCSRecordData r;
  CS_DATETIME4 dt{GetParam().days, GetParam().minutes};
  Put(r, dt);
  EXPECT_EQ(r.AsDateTime4().toString("yyyy-MM-dd hh:mm:ss").toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DateTime4Reader,
                         ::testing::Values(DateTime4Case{"epoch", 0, 0, "1900-01-01 00:00:00"},
                                           DateTime4Case{"last_minute", 0, 1439, "1900-01-01 23:59:00"},
                                           DateTime4Case{"unsigned_days", 65535, 0, "2079-06-06 00:00:00"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordReaders, ReadLittleEndianValues) {
  TCSRecordData r;
  Put(r, int8_t{-1});
  EXPECT_EQ(r.AsBit(), -1);
  EXPECT_EQ(r.AsTinyInt(), 255);
  Put(r, int16_t{-12345});
  EXPECT_EQ(r.AsSmallInt(), -12345);
  Put(r, int32_t{-2000000000});
  EXPECT_EQ(r.AsInteger(), -2000000000);
  Put(r, 1.5f);
  EXPECT_DOUBLE_EQ(r.AsReal(), 1.5);
  Put(r, 3.25);
  EXPECT_DOUBLE_EQ(r.AsFloat(), 3.25);
  // A buffer too short for the reader reads as zero rather than past its end.
  Put(r, int16_t{7});
  EXPECT_EQ(r.AsInteger(), 0);
  r.FreeBuffers();
  EXPECT_EQ(r.AsFloat(), 0.0);
}

TEST(RecordBuffers, CopyAndFree) {
  TCSRecordData r;
  Put(r, int32_t{0x01020304});
  void* copy = r.CopyData(4);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::memcmp(copy, r.Data, 4), 0);
  EXPECT_NE(copy, r.Data);
  std::free(copy);
  char* buf = r.AllocBuffer(10);
  EXPECT_EQ(r.BufferLength, 10);
  EXPECT_EQ(buf[10], '\0') << "one byte beyond the bind length for the NUL";
  r.Owned = std::make_shared<int>(5);
  std::weak_ptr<void> owned = r.Owned;
  r.FreeBuffers();
  EXPECT_EQ(r.Buffer, nullptr);
  EXPECT_EQ(r.Data, nullptr);
  EXPECT_TRUE(owned.expired());
}

TEST(RecordBuffers, IODescIsAllocatedOnceZeroFilledAtItsRealSize) {
  TCSRecordData r;
  CS_IODESC* a = r.GetIODesc();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(r.GetIODesc(), a);
  const auto* bytes = reinterpret_cast<const unsigned char*>(a);
  for (size_t i = 0; i < sizeof(CS_IODESC); ++i) ASSERT_EQ(bytes[i], 0) << i;
  // Writing the last byte must stay inside the allocation (AddressSanitizer would object).
  reinterpret_cast<unsigned char*>(a)[sizeof(CS_IODESC) - 1] = 1;
  EXPECT_GT(sizeof(CS_IODESC), 464u);
}

TEST(ColumnDescriptions, CopyFromDataFmt) {
  TCSColumnDataManager cols(2);
  CS_DATAFMT fmt{};
  const char* longName = "a_column_name_that_is_longer_than_thirty_characters";
  std::strcpy(fmt.name, longName);
  fmt.namelen = static_cast<CS_INT>(std::strlen(longName));
  fmt.datatype = CS_VARCHAR_TYPE;
  fmt.maxlength = 255;
  fmt.scale = 2;
  fmt.precision = 9;
  fmt.format = CS_FMT_NULLTERM;
  fmt.usertype = 2;
  fmt.status = CS_CANBENULL;
  cols.SetDataFmt(1, fmt);
  const TCSColumnData* c = cols.GetItem(1);
  EXPECT_EQ(c->Name, QString(longName).left(30));
  EXPECT_EQ(c->NameLen, fmt.namelen);
  EXPECT_EQ(c->DataType, CS_VARCHAR_TYPE);
  EXPECT_EQ(c->MaxLength, 255);
  EXPECT_EQ(c->Scale, 2);
  EXPECT_EQ(c->Precision, 9);
  EXPECT_EQ(c->Format, CS_FMT_NULLTERM);
  EXPECT_EQ(c->UserType, 2);
  EXPECT_EQ(c->Status, CS_CANBENULL);
  EXPECT_TRUE(cols.GetItem(0)->Name.isEmpty());
}

TEST(Managers, GrowFreeAndClear) {
  TCSRecordDataManager rows;
  rows.FreeBuffers();  // empty: nothing happens
  EXPECT_EQ(rows.Count(), 0);
  rows.AddRecords(3);
  rows.GetItem(2)->AllocBuffer(8);
  EXPECT_EQ(rows.Count(), 3);
  rows.FreeBuffers();
  EXPECT_EQ(rows.Count(), 0);
  TCSColumnDataManager cols(1);
  cols.AddColumns(2);
  EXPECT_EQ(cols.Count(), 3);
  cols.Clear();
  EXPECT_EQ(cols.Count(), 0);
  TCSComputeColumnDataManager compute(0);
  compute.AddColumns(2);
  compute.GetItem(1)->Operator = CS_OP_SUM;
  EXPECT_EQ(compute.Count(), 2);
  EXPECT_THROW(compute.GetItem(2), std::out_of_range);
}

TEST(DataTypeNames, NameEveryCodeWithoutReadingPastTheTable) {
  const struct {
    int code;
    const char* name;
  } rows[] = {{0, "char"},
              {1, "binary"},
              {2, "char"},
              {3, "binary"},
              {4, "text"},
              {5, "image"},
              {6, "tinyint"},
              {7, "smallint"},
              {8, "int"},
              {9, "real"},
              {10, "float"},
              {11, "bit"},
              {12, "datetime"},
              {13, "smalldatetime"},
              {14, "money"},
              {15, "smallmoney"},
              {16, "numeric"},
              {17, "decimal"},
              {18, "varchar"},
              {19, "varbinary"},
              {20, "int"},
              {21, "sensitivity"},
              {22, "sensitivity_boundry"},
              {23, "unknown"},
              {24, "unknown"},
              {-1, "illegal"},
              // Any other code outside the table.
              {25, "unknown/illegal"},
              {30, "unknown/illegal"},
              {1000000, "unknown/illegal"},
              {-2, "unknown/illegal"},
              {-77, "unknown/illegal"},
              {INT_MIN, "unknown/illegal"}};
  for (const auto& row : rows) EXPECT_EQ(CSDataTypeName(row.code).toStdString(), row.name) << row.code;
}

TEST(DataTypeNames, MapToFieldTypes) {
  const struct {
    const char* name;
    TFieldType type;
  } rows[] = {{"char", ftString},         {"VARCHAR", ftString},
              {"smallint", ftSmallint},   {"tinyint", ftSmallint},
              {"int", ftInteger},         {"real", ftFloat},
              {"numeric", ftFloat},       {"decimal", ftFloat},
              {"datetime", ftDateTime},   {"smalldatetime", ftDateTime},
              {"binary", ftVarBytes},     {"varbinary", ftVarBytes},
              {"text", ftMemo},           {"image", ftBlob},
              {"bit", ftBoolean},         {"money", ftCurrency},
              {"smallmoney", ftCurrency}, {"sysname", ftUnknown}};
  for (const auto& row : rows) EXPECT_EQ(FieldTypeOfTypeName(row.name), row.type) << row.name;
}

}  // namespace
