// The "QorixSuite0" data block and "QorixSuite1" full stream: golden bytes, round trips of
// every stored kind of value after inserts and deletes, and refusal of short or foreign input.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

namespace {
QByteArray Hex(const char* hex) {
  return QByteArray::fromHex(hex);
}

const QByteArray kMagic0 = QByteArray("QorixSuite0", 12);
const QByteArray kMagic1 = QByteArray("QorixSuite1", 12);

struct AllKinds : ::testing::Test {
  void SetUp() override {
    ds.SetName("all");
    ds.FieldDefs().Add("s", ftString, 10);
    ds.FieldDefs().Add("i", ftInteger);
    ds.FieldDefs().Add("f", ftFloat);
    ds.FieldDefs().Add("dt", ftDateTime);
    ds.FieldDefs().Add("memo", ftMemo);
    ds.FieldDefs().Add("blob", ftBlob);
    ds.Open();
  }
  QStringList Rows(TDataSet& d) {
    QStringList out;
    d.First();
    while (!d.Eof()) {
      QStringList cells;
      for (int i = 0; i < d.FieldCount(); ++i) {
        TField* f = d.Fields().Fields(i);
        cells << (f->IsNull() ? QStringLiteral("<null>") : f->AsString());
      }
      out << cells.join('|');
      d.Next();
    }
    return out;
  }
  TQxCustomMemDataSet ds;
};
}  // namespace

TEST(StreamGolden, EmptyDataBlockIs32Bytes) {
  TQxCustomMemDataSet ds;
  DefinePeople(ds);  // record size 4 + (4 + 1) + (21 + 1) = 31
  ds.Open();
  TMemoryStream s;
  ds.SaveDataToStream(s, false);
  EXPECT_EQ(s.Bytes(), kMagic0 + Hex("00000000"
                                     "0000000000000000"
                                     "1f000000"
                                     "00000000"));
  TQxCustomMemDataSet back;
  DefinePeople(back);
  back.Open();
  back.AppendRecord({1, "x"});
  s.SetPosition(0);
  back.LoadDataFromStream(s);
  EXPECT_EQ(back.RecordCount(), 0);
}

TEST(StreamGolden, OneIntegerRecordBlock) {
  TQxCustomMemDataSet ds;
  ds.FieldDefs().Add("n", ftInteger);
  ds.Open();
  ds.AppendRecord({7});
  TMemoryStream s;
  ds.SaveDataToStream(s, false);
  EXPECT_EQ(s.Bytes(), kMagic0 + Hex("01000000"
                                     "0900000000000000"
                                     "09000000"
                                     "00000000"
                                     "07000000"
                                     "00"
                                     "00000000"));
  EXPECT_EQ(s.Size(), 12 + 4 + 8 + 4 + 9 + 4);
}

TEST(StreamGolden, FullStreamHeader) {
  TQxCustomMemDataSet ds;
  ds.FieldDefs().Add("n", ftInteger);
  ds.FieldDefs().Add("name", ftString, 20)->Precision = 3;
  ds.Open();
  TMemoryStream s;
  ds.SaveToStream(s);
  const QByteArray name1 = QByteArray("n") + QByteArray(30, '\0');
  const QByteArray name2 = QByteArray("name") + QByteArray(27, '\0');
  const QByteArray header = kMagic1 + Hex("02000000") + Hex("03000000") + name1 +
                            Hex("00000000"
                                "00000000") +
                            Hex("01000000") + name2 +
                            Hex("03000000"
                                "14000000");
  EXPECT_EQ(s.Bytes().left(header.size()), header);
  EXPECT_EQ(s.Bytes().mid(header.size(), 12), kMagic0);
}

TEST(StreamGolden, LongFieldNameKeepsItsSlotAndFollowsTheData) {
  TQxCustomMemDataSet ds;
  ds.FieldDefs().Add(QString(40, 'x'), ftInteger);
  ds.Open();
  TMemoryStream s;
  ds.SaveToStream(s);
  const QByteArray bytes = s.Bytes();
  const int dataEnd = 12 + 4 + (4 + 31 + 8) + 32;
  EXPECT_EQ(bytes.mid(20, 31), QByteArray(30, 'x') + QByteArray(1, '\0')) << "the definition keeps its 43 bytes";
  EXPECT_EQ(bytes.mid(dataEnd - 32, 12), kMagic0) << "the data block follows the definitions";
  EXPECT_EQ(bytes.mid(dataEnd), QByteArray("QorixNames1", 12) + Hex("01000000"
                                                                     "00000000"
                                                                     "28000000") +
                                    QByteArray(40, 'x'));
  TQxCustomMemDataSet back;
  s.SetPosition(0);
  back.LoadFromStream(s);
  EXPECT_EQ(back.FieldDefs().Items(0)->Name, QString(40, 'x'));
}

// Names of whole characters, short and long, load back equal and are found by FindField; the
// slot itself holds the longest start of whole characters that fits its 30 bytes.
TEST(StreamNames, NonAsciiNamesLoadBackEqual) {
  struct Case {
    const char* name;
    QString field;
    QByteArray slot;  // the slot's bytes up to the NUL
  };
  const QString cyrillic = QString::fromUtf8("наименование_товара");  // 19 letters, 37 bytes
  const QString emoji = QString::fromUtf8("\xf0\x9f\x98\x80").repeated(9);  // 4 bytes each
  const Case cases[] = {
      {"short umlauts", QString::fromUtf8("größe"), QString::fromUtf8("größe").toUtf8()},
      {"cyrillic longer than the slot", cyrillic, cyrillic.left(15).toUtf8()},
      {"two-byte letter across the 30th byte", QString(29, 'a') + QString::fromUtf8("é"),
       QByteArray(29, 'a')},
      {"three-byte letters", QString::fromUtf8("数量").repeated(6), QString::fromUtf8("数量").repeated(5).toUtf8()},
      {"letters outside the basic plane", emoji, QString::fromUtf8("\xf0\x9f\x98\x80").repeated(7).toUtf8()},
      {"exactly 30 bytes", QString::fromUtf8("ä").repeated(15), QString::fromUtf8("ä").repeated(15).toUtf8()},
  };
  for (const Case& c : cases) {
    TQxMemDataSet ds;
    ds.FieldDefs().Add(c.field, ftString, 10);
    ds.FieldDefs().Add("id", ftInteger);
    ds.Open();
    ds.AppendRecord({"v", 1});
    TMemoryStream s;
    ds.SaveToStream(s);
    const QByteArray slot = s.Bytes().mid(20, 31);
    EXPECT_EQ(slot.left(slot.indexOf('\0')), c.slot) << c.name;
    TQxMemDataSet back;
    back.LoadFromStream(s);
    back.Open();
    EXPECT_EQ(back.FieldDefs().Items(0)->Name, c.field) << c.name;
    ASSERT_NE(back.FindField(c.field), nullptr) << c.name;
    EXPECT_EQ(back.FindField(c.field)->AsString(), "v") << c.name;
    EXPECT_EQ(back.FieldByName("id")->AsInteger(), 1) << c.name;
  }
}

// A stream from a writer that cut names at 30 bytes, in the middle of a character: the
// broken character is dropped, the rest of the name and the data load.
TEST(StreamNames, ANameCutInsideACharacterDropsThatCharacter) {
  QByteArray name = QString::fromUtf8("наименование_тов").toUtf8();  // 31 bytes
  name.truncate(30);                                                  // half of "в"
  QByteArray slot = name + QByteArray(1, '\0');
  const QByteArray bytes = kMagic1 + Hex("01000000") + Hex("03000000") + slot + Hex("00000000") +
                           Hex("00000000") + kMagic0 + Hex("01000000") + Hex("0900000000000000") +
                           Hex("09000000") + Hex("000000002a00000000") + Hex("00000000");
  TQxMemDataSet ds;
  TMemoryStream s;
  s.LoadFromBytes(bytes);
  ds.LoadFromStream(s);
  ds.Open();
  EXPECT_EQ(ds.FieldDefs().Items(0)->Name, QString::fromUtf8("наименование_то"));
  EXPECT_EQ(ds.FieldByName(QString::fromUtf8("наименование_то"))->AsInteger(), 42);
}

TEST_F(AllKinds, RoundTripAfterInsertsAndDeletes) {
  const QDateTime when(QDate(2001, 9, 9), QTime(1, 46, 40));
  ds.AppendRecord({"one", 1, 1.5, when, "memo one", QByteArray("\x00\x01\x02", 3)});
  ds.AppendRecord({"two", 2, -2.25, when.addDays(1), QVariant(), QVariant()});
  ds.AppendRecord({"three", 3, 0.0, when, "", QByteArray()});  // empty memo and blob are NULL
  ds.First();
  ds.Insert();
  ds.FieldByName("s")->SetAsString("zero");
  ds.FieldByName("blob")->SetValue(QByteArray("bin"));
  ds.Post();
  ds.Locate("i", 2, {});
  ds.Delete();
  const QStringList expected = Rows(ds);
  ASSERT_EQ(expected.size(), 3);
  TMemoryStream s;
  ds.SaveToStream(s);
  TQxCustomMemDataSet back;
  back.SetName("back");
  back.LoadFromStream(s);
  back.Open();
  EXPECT_EQ(Rows(back), expected);
  EXPECT_EQ(back.FieldByName("blob")->FieldNo(), 6);
  back.First();
  EXPECT_EQ(back.FieldByName("s")->AsString(), "zero");
  EXPECT_EQ(TQxCustomMemDataSet::IdOfBookmark(back.Bookmark()), 1) << "ids renumbered 1..n";
  back.Last();
  EXPECT_EQ(TQxCustomMemDataSet::IdOfBookmark(back.Bookmark()), 3);
  EXPECT_TRUE(back.FieldByName("memo")->IsNull());
  // A blob value added after the load gets an id of its own.
  back.Edit();
  back.FieldByName("memo")->SetAsString("new");
  back.Post();
  back.First();
  EXPECT_EQ(back.FieldByName("blob")->Value().toByteArray(), QByteArray("bin"));
  back.Last();
  EXPECT_EQ(back.FieldByName("memo")->AsString(), "new");
}

TEST_F(AllKinds, FileLoadAndMissingNames) {
  ds.AppendRecord({"a", 1, 1.0, QDateTime(QDate(2020, 1, 1), QTime()), "m", QByteArray("b")});
  TMemoryStream s;
  ds.SaveToStream(s);
  QTemporaryDir dir;
  const QString path = dir.filePath("all.qx");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(s.Bytes());
  f.close();
  TQxCustomMemDataSet back;
  back.SetName("back");
  back.FileName = path;
  back.LoadFromFile();
  back.Open();
  EXPECT_EQ(back.RecordCount(), 1);
  TQxCustomMemDataSet none;
  none.SetName("none");
  try {
    none.LoadFromFile();
    FAIL();
  } catch (const EQxFileException& e) {
    EXPECT_EQ(e.Message(), "none: No FileName specified");
  }
  EXPECT_THROW(back.LoadFromFile(dir.filePath("missing")), EFOpenError);
  EXPECT_EQ(back.RecordCount(), 1) << "a missing file changes nothing";
}

TEST_F(AllKinds, ForeignAndShortInputIsRefused) {
  ds.AppendRecord({"a", 1, 1.0, QDateTime(QDate(2020, 1, 1), QTime()), "m", QByteArray("b")});
  ds.AppendRecord({"b", 2, 2.0, QDateTime(QDate(2020, 1, 2), QTime()), "n", QByteArray("c")});
  TMemoryStream fullStream;
  ds.SaveToStream(fullStream);
  TMemoryStream blockStream;
  ds.SaveDataToStream(blockStream, false);
  const QByteArray full = fullStream.Bytes();
  const QByteArray block = blockStream.Bytes();

  struct Case {
    const char* name;
    QByteArray bytes;
    bool fullStream;
    bool notValid;  // "Source is not valid" rather than a stream read error
  };
  QByteArray wrongSize = block;
  wrongSize[24] = char(wrongSize[24] + 1);  // record size one byte larger
  QByteArray negativeCount = block;
  negativeCount.replace(12, 4, Hex("ffffffff"));
  QByteArray badByteCount = block;
  badByteCount.replace(16, 8, Hex("ffffffffffffff7f"));
  const Case cases[] = {
      {"data block given as a full stream", block, true, true},
      {"full stream given as a data block", full, false, true},
      {"record size differs from the layout", wrongSize, false, true},
      {"negative record count", negativeCount, false, true},
      {"byte count disagrees with count and size", badByteCount, false, true},
      {"data block cut inside the records", block.left(40), false, false},
      {"data block cut inside the blob list", block.left(block.size() - 3), false, false},
      {"full stream cut inside the definitions", full.left(30), true, false},
  };
  for (const Case& c : cases) {
    TQxCustomMemDataSet target;
    target.SetName("target");
    for (int i = 0; i < ds.FieldDefs().Count(); ++i)
      target.FieldDefs().Add(ds.FieldDefs().Items(i)->Name, ds.FieldDefs().Items(i)->DataType,
                             ds.FieldDefs().Items(i)->Size);
    target.Open();
    target.AppendRecord({"keep", 9});
    TMemoryStream s;
    s.LoadFromBytes(c.bytes);
    try {
      if (c.fullStream)
        target.LoadFromStream(s);
      else
        target.LoadDataFromStream(s);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const EQxNotValidException& e) {
      EXPECT_TRUE(c.notValid) << c.name;
      EXPECT_EQ(e.Message(), "target: Source is not valid") << c.name;
    } catch (const EReadError&) {
      EXPECT_FALSE(c.notValid) << c.name;
    }
    EXPECT_EQ(target.RecordCount(), 0) << c.name << ": the dataset is left emptied";
    EXPECT_EQ(target.FieldCount(), 6) << c.name << ": fields unchanged";
  }
}

TEST(StreamLoad, EmptyStreamChangesNothing) {
  TQxCustomMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}});
  TMemoryStream empty;
  ds.LoadFromStream(empty);
  EXPECT_EQ(ds.RecordCount(), 1);
}
