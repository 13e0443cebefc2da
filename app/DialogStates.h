// Plain state classes of the smaller dialogs: the export options, the SQL open dialog's
// choice rules, and the field sets of the results information and server information
// windows. Their widgets (Dialogs.h) only show them.
#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

// Tf_export: the format buttons, the delimiter edit and the result code.
class TExportState {
 public:
  // The format buttons in the dialog's order.
  enum TFormat { Fixed, Tab, Char, Html, Comma };
  TFormat Checked = Fixed;
  bool ExportSelected = false;
  // The delimiter edit (at most 10 characters), enabled only for "Char delimited".
  QString Delimiter;
  bool DelimiterEnabled() const { return Checked == Char; }
  // 0 cancelled, 1 fixed, 2 tab, 3 character delimited, 4 HTML, 5 comma.
  int FormatCode = 0;

  // What the dialog's Help button shows.
  static constexpr const char* kHelpText =
      "Fixed length: each column padded to its width.\n"
      "TAB delimited: columns separated by a tab.\n"
      "Char delimited: columns separated by the text in Delimiter (at most 10 characters).\n"
      "HTML: a table in an HTML page.\n"
      "Comma: columns separated by commas.\n\n"
      "Export All writes every row of the results; Export Selected only the selected cells.";
  // Checks a format button.
  void Check(TFormat format) { Checked = format; }
  // Sets the delimiter, cut to 10 characters.
  void SetDelimiter(const QString& text) { Delimiter = text.left(10); }
  // OK: the code of the checked button.
  void Ok();
  // Cancel: code 0.
  void Cancel() { FormatCode = 0; }
  // The result grid's export code for a dialog code (1→0, 2→1, 3→5, 4→6, 5→2; -1 otherwise).
  static int GridExportCode(int dialogCode);
};

// TStOpenDialog: the folder, the filter and what "Open" does with the typed name.
class TOpenDialogState {
 public:
  explicit TOpenDialogState(const QString& folder = QDir::currentPath());

  // The type combo's items; the first is selected at creation.
  QStringList Types{QStringLiteral("SQL files (*.sql)"), QStringLiteral("Text files (*.txt)"),
                    QStringLiteral("All files (*.*)")};
  int TypeIndex = 0;
  QString Folder;
  QString Filter;
  bool Filtering = false;
  // The typed file name.
  QString FileNameText;
  // The result.
  QString FileName;
  bool Chosen = false;
  // Set when the edit's text is to be selected (the list moved to a typed folder).
  bool SelectText = false;

  // Applies the selected type: the text after "(" without its last character (*.sql).
  void ApplyType();
  // "&Open" with the typed name; true when a file was chosen (the dialog closes).
  bool Open();
  // Double click on an entry of the list: chooses it when it is an existing file.
  bool Choose(const QString& path);
  // Moves the list to the parent folder.
  void UpOneLevel();
  // The folder combo's entries: the folder, then each folder above it up to the root.
  QStringList FolderChain() const;
  // Creates a folder in Folder named "New Folder" (or "New Folder (2)" ... when taken); returns
  // its path, empty when it could not be made.
  QString NewFolder();
  // The list shows names only (List, down at load) or names with size, type and date (Details).
  bool Details = false;
  // The entries of the folder as the list shows them: folders first, then matching files.
  QStringList Entries() const;
  // True for the extensions the preview opens.
  static bool Previewable(const QString& path);
};

// Tf_results_info: what the results information window shows.
struct TResultsInfo {
  QString StartTime, EndTime, Database, Server, User, SQL;
};

// Tf_sybinfo: what the server information window shows.
struct TSybInfo {
  QString Caption = QStringLiteral("Sybase Info");
  QString CharSet, Language, SortOrder, DbVersion, QorixVersion, IniFile;
};

// The calculator: a display, a pending operator and the value before it.
class TCalculatorState {
 public:
  // The text on the display.
  QString Display = QStringLiteral("0");
  // Presses one key: a digit, ".", one of "+-*/", "=", "C" (clear), "±" (sign) or "<" (back).
  void Press(const QString& key);

 private:
  double Value() const { return Display.toDouble(); }
  void Show(double v);
  double accumulator_ = 0;
  QChar pending_;
  bool fresh_ = true;   // the next digit starts a new number
  bool error_ = false;  // the display shows "Error" until C
};

// The Desktop page: the folder the file list shows, its mask, the view entry checked, and the
// file clipboard of Cut File / Copy File / Paste File.
class TDesktopState {
 public:
  // The view menu's entries; "List" has no effect.
  enum TView { vwLargeIcons, vwSmallIcons, vwList, vwDetails };
  explicit TDesktopState(const QString& folder = QDir::currentPath());
  QString Folder;
  QString Mask = QStringLiteral("*.sql");
  // The entry checked and the view style shown (Details at start).
  TView Checked = vwDetails;
  TView Style = vwDetails;
  bool CutEnabled = true;
  bool CopyEnabled = true;
  // Chooses a view entry: it becomes the only checked one; List changes nothing.
  void ChooseView(TView view);
  // Moves to the parent folder (the root stays).
  void UpOneLevel();
  // Remembers Files for a later paste; Cut moves them, Copy copies them. Disables its button.
  void CopyFiles(const QStringList& files);
  void CutFiles(const QStringList& files);
  // Copies or moves the remembered files into Folder and enables both buttons. A file of the
  // same name already there is kept and reported, never overwritten. Returns the names that
  // could not be pasted.
  QStringList Paste();

 private:
  QStringList clip_;
  bool cut_ = false;
};
