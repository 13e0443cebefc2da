// Stream files made by hand to lie about their sizes and counts: every one is refused with
// "Source is not valid" or the stream read error, quickly and without a foreign exception, and
// the dataset is left empty and usable. Also the definitions a dataset itself refuses to lay out.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

namespace {
QByteArray I32(int32_t v) {
  QByteArray b(4, '\0');
  qToLittleEndian<int32_t>(v, b.data());
  return b;
}
QByteArray I64(int64_t v) {
  QByteArray b(8, '\0');
  qToLittleEndian<int64_t>(v, b.data());
  return b;
}
QByteArray Magic(const char* text) {
  QByteArray m(text);
  m.resize(12, '\0');
  return m;
}
// One definition as a full stream writes it: type, 31-byte name slot, precision, size.
QByteArray Def(int32_t type, const QByteArray& name, int32_t size, int32_t precision = 0) {
  QByteArray slot = name.left(31);
  slot.resize(31, '\0');
  return I32(type) + slot + I32(precision) + I32(size);
}
// A data block header: magic, record count, byte count, record size.
QByteArray Block(int32_t count, int64_t bytes, int32_t size) {
  return Magic("QorixSuite0") + I32(count) + I64(bytes) + I32(size);
}
QByteArray Full(const QList<QByteArray>& defs, const QByteArray& data) {
  QByteArray out = Magic("QorixSuite1") + I32(int32_t(defs.size()));
  for (const QByteArray& d : defs) out += d;
  return out + data;
}
// The empty data block a dataset of one ftInteger field writes (record size 9).
const QByteArray kEmptyIntBlock = Block(0, 0, 9) + I32(0);

enum class Refusal { NotValid, ReadError };

// Loads bytes as a full stream (or a data block) into a fresh dataset named "target" and
// answers how it was refused; a foreign exception or an accepted load fails the test.
void ExpectRefused(const char* name, const QByteArray& bytes, bool full, Refusal expected,
                   bool withFields) {
  TQxMemDataSet target;
  target.SetName("target");
  if (withFields) {
    target.FieldDefs().Add("id", ftInteger);
    target.Open();
    target.AppendRecord({7});
  }
  TMemoryStream s;
  s.LoadFromBytes(bytes);
  try {
    if (full)
      target.LoadFromStream(s);
    else
      target.LoadDataFromStream(s);
    ADD_FAILURE() << name << ": accepted with " << target.RecordCount() << " records";
  } catch (const EQxNotValidException& e) {
    EXPECT_EQ(expected, Refusal::NotValid) << name;
    EXPECT_EQ(e.Message(), "target: Source is not valid") << name;
  } catch (const EReadError& e) {
    EXPECT_EQ(expected, Refusal::ReadError) << name;
    EXPECT_EQ(e.Message(), "Stream read error") << name;
  } catch (const std::exception& e) {
    ADD_FAILURE() << name << ": foreign exception " << e.what();
  }
  EXPECT_EQ(target.RecordCount(), 0) << name;
  if (withFields) {
    // Still usable with its own structure.
    EXPECT_EQ(target.FieldCount(), 1) << name;
    target.AppendRecord({8});
    EXPECT_EQ(Column(target, "id"), QStringList({"8"})) << name;
  }
}
}  // namespace

TEST(HostileStream, FullStreamsThatLieAboutSizes) {
  struct Case {
    const char* name;
    QByteArray bytes;
    Refusal refusal;
  };
  const Case cases[] = {
      {"string field of 2,000,000,000 bytes (91 bytes in all)",
       Full({Def(ftString, "s", 2000000000)}, Block(0, 0, 4 + 2000000001 + 1) + I32(0)), Refusal::NotValid},
      {"string field one byte below 2^31", Full({Def(ftString, "s", 0x7ffffffe)}, kEmptyIntBlock),
       Refusal::NotValid},
      {"string field of the largest int32", Full({Def(ftString, "s", 0x7fffffff)}, kEmptyIntBlock),
       Refusal::NotValid},
      {"two fields that only together pass the record limit",
       Full({Def(ftString, "a", 600000), Def(ftString, "b", 600000)}, kEmptyIntBlock), Refusal::NotValid},
      {"negative size", Full({Def(ftString, "s", -5)}, kEmptyIntBlock), Refusal::NotValid},
      {"negative type", Full({Def(-1, "s", 0)}, kEmptyIntBlock), Refusal::NotValid},
      {"type past the last one", Full({Def(kFieldTypeCount, "s", 0)}, kEmptyIntBlock), Refusal::NotValid},
      {"type no record can hold", Full({Def(ftVariant, "v", 0)}, kEmptyIntBlock), Refusal::NotValid},
      {"2^31-1 definitions in a short stream",
       Magic("QorixSuite1") + I32(0x7fffffff) + Def(ftInteger, "i", 0), Refusal::ReadError},
      {"negative definition count", Magic("QorixSuite1") + I32(-1), Refusal::ReadError},
      {"records whose byte count runs past the stream",
       Full({Def(ftInteger, "i", 0)}, Block(1000000, 9000000, 9)), Refusal::ReadError},
      {"records counted near 2^31 with the product wrapped",
       Full({Def(ftInteger, "i", 0)}, Block(0x7fffffff, int64_t(int32_t(0x7fffffffu * 9u)), 9)),
       Refusal::NotValid},
      {"blob list longer than the stream",
       Full({Def(ftInteger, "i", 0)}, Block(1, 9, 9) + QByteArray(9, '\0') + I32(1) + I32(0x7fffffff)),
       Refusal::ReadError},
      {"blob value longer than its list",
       Full({Def(ftInteger, "i", 0)},
            Block(1, 9, 9) + QByteArray(9, '\0') + I32(1) + I32(16) + I32(0x40000000) + I32(1) + I32(1) + I32(0)),
       Refusal::ReadError},
      {"long-name block with no entries",
       Full({Def(ftInteger, "i", 0)}, kEmptyIntBlock + Magic("QorixNames1") + I32(0)), Refusal::NotValid},
      {"long-name block naming a field that does not exist",
       Full({Def(ftInteger, "i", 0)}, kEmptyIntBlock + Magic("QorixNames1") + I32(1) + I32(5) + I32(31) +
                                          QByteArray(31, 'i')),
       Refusal::NotValid},
      {"long name longer than the stream",
       Full({Def(ftInteger, "i", 0)},
            kEmptyIntBlock + Magic("QorixNames1") + I32(1) + I32(0) + I32(4000) + QByteArray(40, 'i')),
       Refusal::NotValid},
      {"long name that is not the one its slot starts",
       Full({Def(ftInteger, "i", 0)}, kEmptyIntBlock + Magic("QorixNames1") + I32(1) + I32(0) + I32(40) +
                                          QByteArray(40, 'x')),
       Refusal::NotValid},
  };
  EXPECT_EQ(cases[0].bytes.size(), 91);
  for (const Case& c : cases)
    for (const bool withFields : {false, true}) ExpectRefused(c.name, c.bytes, true, c.refusal, withFields);
}

TEST(HostileStream, DataBlocksThatLieAboutCounts) {
  struct Case {
    const char* name;
    QByteArray bytes;
    bool withFields;
    Refusal refusal;
  };
  const Case cases[] = {
      {"50,000,000 records of size 0 for a dataset without fields (28 bytes)", Block(50000000, 0, 0), false,
       Refusal::NotValid},
      {"50,000,000 records of size 0", Block(50000000, 0, 0), true, Refusal::NotValid},
      {"records of the wrong size", Block(2, 20, 10) + QByteArray(20, '\0') + I32(0), true, Refusal::NotValid},
      {"record count near 2^31", Block(0x7fffffff, int64_t(0x7fffffff) * 9, 9), true, Refusal::ReadError},
      {"negative blob count", Block(1, 9, 9) + QByteArray(9, '\0') + I32(-3), true, Refusal::NotValid},
      {"negative blob-list size", Block(1, 9, 9) + QByteArray(9, '\0') + I32(1) + I32(-8), true,
       Refusal::ReadError},
  };
  EXPECT_EQ(cases[0].bytes.size(), 28);
  for (const Case& c : cases) ExpectRefused(c.name, c.bytes, false, c.refusal, c.withFields);
}

TEST(HostileStream, AFileIsRefusedLikeTheSameBytesInMemory) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("huge.dat");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Full({Def(ftString, "s", 2000000000)}, Block(0, 0, 4 + 2000000001 + 1) + I32(0)));
  }
  TQxMemDataSet ds;
  ds.SetName("target");
  EXPECT_THROW(ds.LoadFromFile(file), EQxNotValidException);
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Block(50000000, 0, 0));
  }
  EXPECT_THROW(ds.LoadDataFromFile(file), EQxNotValidException);
  EXPECT_EQ(ds.RecordCount(), 0);
}

// Definitions made in code get the same bound when the dataset lays its records out.
TEST(HostileStream, OpenRefusesARecordPastTheLimit) {
  struct Case {
    const char* name;
    QList<int> stringSizes;
  };
  const Case cases[] = {
      {"one string of 2,000,000,000 bytes", {2000000000}},
      {"one string of the largest int32", {0x7fffffff}},
      {"strings that pass the limit together", {700000, 700000}},
  };
  for (const Case& c : cases) {
    TQxMemDataSet ds;
    ds.SetName("big");
    for (int i = 0; i < c.stringSizes.size(); ++i) ds.FieldDefs().Add(QStringLiteral("s%1").arg(i), ftString, c.stringSizes[i]);
    try {
      ds.Open();
      ADD_FAILURE() << c.name << ": opened";
    } catch (const EQxNotSupportedException& e) {
      EXPECT_TRUE(e.Message().startsWith("big: A record of ")) << e.Message().toStdString();
      EXPECT_TRUE(e.Message().endsWith("exceeds the limit of 1048576 bytes")) << e.Message().toStdString();
    }
    EXPECT_FALSE(ds.Active()) << c.name;
  }
  TQxMemDataSet fits;
  fits.FieldDefs().Add("s", ftString, kQxMaxRecordSize - 6);  // 4 + (size + 1) + 1: exactly the limit
  fits.Open();
  fits.AppendRecord({"x"});
  EXPECT_EQ(fits.RecordSize(), kQxMaxRecordSize);
  EXPECT_EQ(Column(fits, "s"), QStringList({"x"}));
}

// The blob list's id counter comes from the stream: at the end of its range (or below zero) the
// next value still gets an id of its own and reads back.
TEST(HostileStream, TheBlobCounterAtEitherEndOfItsRange) {
  for (const int32_t counter : {INT32_MAX, INT32_MAX - 1, -7}) {
    TQxMemDataSet source;
    source.FieldDefs().Add("id", ftInteger);
    source.FieldDefs().Add("memo", ftMemo);
    source.Open();
    source.AppendRecord({1, "first"});
    TMemoryStream s;
    source.SaveDataToStream(s, false);
    QByteArray bytes = s.Bytes();
    bytes.replace(bytes.size() - 4, 4, I32(counter));  // the counter ends the blob list
    TQxMemDataSet ds;
    ds.FieldDefs().Add("id", ftInteger);
    ds.FieldDefs().Add("memo", ftMemo);
    ds.Open();
    TMemoryStream in;
    in.LoadFromBytes(bytes);
    ds.LoadDataFromStream(in);
    ds.AppendRecord({2, "second"});
    ds.AppendRecord({3, "third"});
    EXPECT_EQ(Column(ds, "memo"), QStringList({"first", "second", "third"})) << counter;
  }
}

// A full stream cut inside the long-names block that follows its data block is refused
// wherever the cut falls (the magic, the count, an entry); cut exactly where the block starts
// it is a plain full stream and loads with the names its slots hold.
TEST(HostileStream, AStreamCutInsideItsLongNamesBlockIsRefused) {
  TQxMemDataSet source;
  const QString longA = QString(40, 'a'), longB = QStringLiteral("b") + QString(35, 'c');
  source.FieldDefs().Add(longA, ftInteger);
  source.FieldDefs().Add("short", ftInteger);
  source.FieldDefs().Add(longB, ftString, 5);
  source.Open();
  source.AppendRecord({1, 2, "x"});
  TMemoryStream s;
  source.SaveToStream(s);
  const QByteArray whole = s.Bytes();
  const int namesAt = int(whole.indexOf(QByteArray("QorixNames1")));
  ASSERT_GT(namesAt, 0);
  for (int cut = namesAt + 1; cut < whole.size(); ++cut) {
    const std::string name = "cut after " + std::to_string(cut - namesAt) + " bytes of the block";
    ExpectRefused(name.c_str(), whole.left(cut), true, Refusal::NotValid, false);
  }
  const struct {
    const char* name;
    QByteArray bytes;
    QString first, third;
  } loads[] = {
      {"the whole stream", whole, longA, longB},
      {"cut where the block starts", whole.left(namesAt), longA.left(30), longB.left(30)},
  };
  for (const auto& l : loads) {
    SCOPED_TRACE(l.name);
    TQxMemDataSet back;
    TMemoryStream in;
    in.LoadFromBytes(l.bytes);
    back.LoadFromStream(in);
    back.Open();
    EXPECT_EQ(back.FieldDefs().Items(0)->Name, l.first);
    EXPECT_EQ(back.FieldDefs().Items(2)->Name, l.third);
    EXPECT_EQ(back.RecordCount(), 1);
  }
}

// A blob list holds at most one value per record and blob field: more items than the records
// can reference (300,000 empty values in a few megabytes, which would take far more memory than
// the file) are refused, whatever the block's blob count says.
TEST(HostileStream, ABlobListIsBoundedByWhatTheRecordsCanReference) {
  TQxMemDataSet source;
  source.FieldDefs().Add("id", ftInteger);
  source.FieldDefs().Add("m", ftMemo);
  source.Open();
  source.AppendRecord({1, "x"});
  TMemoryStream s;
  source.SaveToStream(s);
  const QByteArray whole = s.Bytes();
  const int block = int(whole.indexOf(QByteArray("QorixSuite0")));
  const int32_t recordBytes = qFromLittleEndian<int32_t>(whole.constData() + block + 16);
  const int blobsAt = block + 28 + recordBytes;
  ASSERT_EQ(qFromLittleEndian<int32_t>(whole.constData() + blobsAt), 1);
  const int32_t fieldNo = qFromLittleEndian<int32_t>(whole.constData() + blobsAt + 8 + 4);
  const int32_t blobId = qFromLittleEndian<int32_t>(whole.constData() + blobsAt + 8 + 8);
  // A blob list of N empty values of the memo field, ids from the record's own, then the counter.
  auto emptyItems = [&](int n) {
    QByteArray list;
    for (int i = 0; i < n; ++i) list += I32(0) + I32(fieldNo) + I32(blobId + i);
    return list + I32(blobId + n);
  };
  auto withBlobs = [&](int32_t blobCount, const QByteArray& list) {
    return whole.left(blobsAt) + I32(blobCount) + I32(int32_t(list.size())) + list;
  };
  const struct {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      {"300,000 empty values for one record", withBlobs(300000, emptyItems(300000))},
      {"two values for one record's one blob field", withBlobs(2, emptyItems(2))},
      {"a count of one over a list of 300,000", withBlobs(1, emptyItems(300000))},
  };
  for (const auto& c : cases) ExpectRefused(c.name, c.bytes, true, Refusal::NotValid, false);
  // What the records can reference still loads.
  TQxMemDataSet back;
  TMemoryStream in;
  in.LoadFromBytes(withBlobs(1, emptyItems(1)));
  back.LoadFromStream(in);
  back.Open();
  EXPECT_EQ(back.RecordCount(), 1);
  // A layout without any blob field references no value at all.
  TQxMemDataSet plain;
  plain.FieldDefs().Add("id", ftInteger);
  plain.Open();
  plain.AppendRecord({1});
  TMemoryStream p;
  plain.SaveDataToStream(p, false);
  QByteArray noBlobField = p.Bytes();
  noBlobField.chop(4);
  noBlobField += I32(1) + I32(16) + I32(0) + I32(1) + I32(1) + I32(2);
  ExpectRefused("a value in a layout without blob fields", noBlobField, false, Refusal::NotValid, true);
}
