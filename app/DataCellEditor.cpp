// The Data page grid's cell editing (see DataCellEditor.h).
#include "app/DataCellEditor.h"

#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>

#include "access/UiServices.h"
#include "dataset/DataSetModel.h"
#include "dataset/Field.h"
#include "dataset/QxDataSetErrors.h"

namespace {
constexpr const char* kStartText = "tabulonStartText";

bool IsByteField(const TField& f) {
  switch (f.DataType()) {
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
      return true;
    default:
      return false;
  }
}

bool IsStringField(const TField& f) {
  if (f.KeepsOwnType()) return false;
  switch (f.DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftFmtMemo:
      return true;
    default:
      return false;
  }
}

QString TimeText(const QTime& t) {
  return t.toString(t.msec() ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
}
}  // namespace

QString CellEditText(const TField& f, const QVariant& value) {
  if (!value.isValid() || value.isNull()) return QString();
  switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QDateTime: {
      const QDateTime dt = value.toDateTime();
      return dt.date().toString(Qt::ISODate) + QLatin1Char(' ') + TimeText(dt.time());
    }
    case QMetaType::QDate:
      return value.toDate().toString(Qt::ISODate);
    case QMetaType::QTime:
      return TimeText(value.toTime());
    case QMetaType::QByteArray:
      return IsByteField(f) ? QString::fromLatin1(value.toByteArray().toHex()) : QString::fromUtf8(value.toByteArray());
    case QMetaType::Bool:
      return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    default:
      return value.toString();
  }
}

QVariant CellValueOfText(const TField& f, const QString& text) {
  if (text.isEmpty()) return IsStringField(f) ? QVariant(QString(QLatin1String(""))) : QVariant();
  if (IsByteField(f)) {
    QString hex = text.trimmed();
    if (hex.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) hex = hex.mid(2);
    bool ok = hex.size() % 2 == 0;
    for (const QChar c : hex) ok = ok && c.unicode() < 128 && std::isxdigit(c.unicode());
    if (!ok)
      DatabaseError(QStringLiteral("'%1' is not a valid hexadecimal value for field '%2'").arg(text, f.DisplayName()),
                    f.DataSet());
    return QByteArray::fromHex(hex.toLatin1());
  }
  if (f.DataType() == ftDateTime || f.DataType() == ftDate || f.DataType() == ftTime) {
    // Date and time are read apart (in no time zone: a local clock change cannot move them).
    const QString t = text.trimmed();
    const qsizetype split = t.indexOf(QRegularExpression(QStringLiteral("[ T]")));
    const QString datePart = f.DataType() == ftTime && split < 0 ? QString() : (split < 0 ? t : t.left(split));
    const QString timePart = split < 0 ? (f.DataType() == ftTime ? t : QString()) : t.mid(split + 1).trimmed();
    QDate d = datePart.isEmpty() ? QDate(1899, 12, 30) : QDate::fromString(datePart, Qt::ISODate);
    QTime tm = timePart.isEmpty() ? QTime(0, 0) : QTime();
    for (const char* format : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"})
      if (!tm.isValid()) tm = QTime::fromString(timePart, QString::fromLatin1(format));
    if (d.isValid() && tm.isValid()) {
      if (f.DataType() == ftTime) return tm;
      return QDateTime(d, tm, Qt::UTC);
    }
    // Anything else goes to the field, which says why it is no date.
  }
  return text;
}

QWidget* TDataCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const {
  auto* e = new QLineEdit(parent);
  e->setFrame(false);
  open_ = e;
  return e;
}

void TDataCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  auto* e = qobject_cast<QLineEdit*>(editor);
  const auto* model = dynamic_cast<const TDataSetModel*>(index.model());
  const TField* f = model ? model->ColumnField(index.column()) : nullptr;
  if (!e || !f) return;
  // The editor is filled once: a later call (the row's values shown again while editing) keeps
  // what the user typed.
  if (e->property(kStartText).isValid()) return;
  const QString text = CellEditText(*f, index.data(Qt::EditRole));
  e->setProperty(kStartText, text);
  e->setText(text);
}

void TDataCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  auto* e = qobject_cast<QLineEdit*>(editor);
  const auto* m = dynamic_cast<const TDataSetModel*>(model);
  const TField* f = m ? m->ColumnField(index.column()) : nullptr;
  if (!e || !f) return;
  // Written once: the write may post or move the record, which asks for open editors again.
  if (open_ == editor) open_ = nullptr;
  // An editor closed without a change writes nothing: the value stays as the server holds it.
  if (e->text() == e->property(kStartText).toString()) return;
  QVariant value;
  if (!GuardedCall([&] { value = CellValueOfText(*f, e->text()); })) return;
  model->setData(index, value, Qt::EditRole);
}

void TDataCellDelegate::CommitOpenEditor() {
  QWidget* e = open_;
  if (!e) return;
  emit commitData(e);
  emit closeEditor(e, QAbstractItemDelegate::NoHint);
}
