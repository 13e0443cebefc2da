// TQorixContext: one CS-Library context with Client-Library initialised on it and one locale,
// found by the connections through the process-wide ContextList under its ContextName.
#pragma once

#include <QString>
#include <mutex>
#include <vector>

#include "access/Classes.h"
#include "access/ctlib/ctlib.h"

// One Client-Library context component.
class TQorixContext : public TComponent {
 public:
  // Allocates and initialises the context and its locale; raises EQorixException when a
  // step fails, releasing what it had allocated.
  explicit TQorixContext(TComponent* owner = nullptr);
  // Leaves ContextList, drops the locale and, when no database still uses the context,
  // exits Client-Library and drops the context.
  ~TQorixContext() override;

  // Sets the component name and registers the context in ContextList under a ContextName.
  void SetName(const QString& name) override;

  // Free text, no behaviour.
  QString About;
  // Stored only.
  bool Monitor = false;

  // The name databases find the context by ("default", or "contextN" beside others).
  const QString& ContextName() const { return contextName_; }
  // Plain store.
  void SetContextName(const QString& name) { contextName_ = name; }

  // The interfaces file.
  const QString& IniFile() const { return iniFile_; }
  // Sends a non-blank value to the library as CS_IFILE and stores it; blanks change nothing.
  void SetIniFile(const QString& value);
  // The locale's character set.
  const QString& CharSet() const { return charSet_; }
  // Sets the locale's character set; raises "cs_locale Failed. Invalid CS_SYB_CHARSET".
  void SetCharSet(const QString& value);
  // The locale's language, read from the library.
  QString Language();
  // Sets the locale's language; raises "cs_locale Failed. Invalid CS_SYB_LANG".
  void SetLanguage(const QString& value);
  // The locale's sort order, read from the library.
  QString SortOrder();
  // Sets the locale's sort order; raises "cs_locale Failed. Invalid CS_SYB_SORTORDER".
  void SetSortOrder(const QString& value);
  // The library's CS_MAX_CONNECT.
  int MaxConnect() const;
  // Raises "Invalid MaxConnect value" below 1; else stores and sets CS_MAX_CONNECT.
  void SetMaxConnect(int value);
  // The library's CS_TIMEOUT in seconds.
  int TimeOut() const;
  // Raises "Invalid TimeOut value" below 1; else stores and sets CS_TIMEOUT.
  void SetTimeOut(int value);
  // The Client-Library version text; empty when the library gives none.
  QString QorixVersion() const;

  // The CS-Library context handle.
  CS_CONTEXT* Handle() const { return context_; }
  // The locale handle.
  CS_LOCALE* Locale() const { return locale_; }

 private:
  void Release();

  QString contextName_ = QStringLiteral("default");
  QString iniFile_;
  QString charSet_;
  QString language_;
  QString sortOrder_;
  int maxConnect_ = 25;
  int timeOut_ = 60;
  CS_CONTEXT* context_ = nullptr;
  CS_LOCALE* locale_ = nullptr;
  bool initialised_ = false;
  std::mutex lock_;
};

// The live, named contexts in registration order (not owning).
std::vector<TQorixContext*>& ContextList();
// The context handle of the first context whose ContextName equals Name exactly, or null.
CS_CONTEXT* FindContextHandle(const QString& name);
// The first context whose ContextName equals Name exactly, or null.
TQorixContext* FindContext(const QString& name);
// True when a database of DatabaseList holds Context's handle.
bool IsContextInUse(const TQorixContext* context);
// The Client-Library completion callback installed on every context: takes no action.
CS_RETCODE CompletionCallback(CS_CONNECTION* con, CS_COMMAND* cmd, CS_INT function, CS_RETCODE status);
// The interfaces file a new context names: $SYBASE/interfaces, or when SYBASE is unset the
// file FreeTDS resolves server names with (ctlib::FreeTdsNamesFile; empty when none is found).
QString DefaultIniFile();
