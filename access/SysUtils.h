// The class library's exception roots that the whole suite raises and catches:
// Exception (a message), EAbort (the silent abort) and EDatabaseError ("Name: text").
#pragma once

#include <QString>
#include <exception>
#include <string>

// Root of every exception the suite raises; carries the message text.
class Exception : public std::exception {
 public:
  explicit Exception(QString message) : message_(std::move(message)), utf8_(message_.toStdString()) {}
  const QString& Message() const { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  QString message_;
  std::string utf8_;
};

// The silent abort: handlers ignore it, nothing is shown.
class EAbort : public Exception {
 public:
  explicit EAbort(QString message = QStringLiteral("Operation aborted")) : Exception(std::move(message)) {}
};

// A database usage error; components raise it with "Name: text".
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// The class library's conversion error ("'abc' is not a valid integer value").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Raises the silent abort.
[[noreturn]] inline void Abort() { throw EAbort(); }
