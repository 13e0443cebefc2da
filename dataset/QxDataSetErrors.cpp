// The dataset layer's texts and raise procedures.
// QxText loads the suite's texts from the access layer's message table by id.
#include "dataset/QxDataSetErrors.h"

#include "access/QorixResources.h"

QString QxText(int id) {
  return LoadResString(id);
}

QString QxFormat(const QString& text, const QString& arg) {
  QString out = text;
  const int at = out.indexOf(QLatin1String("%s"));
  if (at >= 0) out.replace(at, 2, arg);
  return out;
}

QString QxComponentMessage(const QString& message, const QObject* component) {
  if (component && !component->objectName().isEmpty())
    return QStringLiteral("%1: %2").arg(component->objectName(), message);
  return message;
}

void DatabaseError(const QString& message, const QObject* component) {
  throw EDatabaseError(QxComponentMessage(message, component));
}

#define QX_DEFINE_RAISE(Proc, Class)                            \
  void Proc(const QString& message, const QObject* component) { \
    throw Class(QxComponentMessage(message, component));        \
  }
QX_DEFINE_RAISE(RaiseDataSetError, EQxDataSetException)
QX_DEFINE_RAISE(RaiseNotValidError, EQxNotValidException)
QX_DEFINE_RAISE(RaiseNotSupportedError, EQxNotSupportedException)
QX_DEFINE_RAISE(RaiseFileError, EQxFileException)
QX_DEFINE_RAISE(RaiseBookmarkError, EQxBookmarkException)
QX_DEFINE_RAISE(RaiseNoModeError, EQxNoModeException)
QX_DEFINE_RAISE(RaiseDisabledError, EQxDisabledException)
QX_DEFINE_RAISE(RaiseNotOpenError, EQxNotOpenException)
#undef QX_DEFINE_RAISE
