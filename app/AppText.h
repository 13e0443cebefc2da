// Text rules of the main window that tests check on their own: object and owner parts of a
// name, the statement text taken from an editor selection, the lines that copy and print
// build from grid cells, and the caption a field gets in the record edit window.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace apptext {

// The part of Text after its first "."; the whole text when there is none.
QString ObjectNamePart(const QString& text);
// The part of Text before its first "."; empty when there is none.
QString OwnerNamePart(const QString& text);

// Where a selection of an editor starts and ends: 0-based lines, and columns as character
// offsets within their line (EndColumn is the count of characters taken from the last line).
struct TSelection {
  int StartLine = 0;
  int StartColumn = 0;
  int EndLine = 0;
  int EndColumn = 0;
};

// The selected lines of Lines, the first with the characters before the selection replaced
// by blanks so columns keep their place, the last cut after EndColumn characters, each line
// followed by CR LF when WithLineEnds. Lines are taken whole, however long.
QStringList SelectedLines(const QStringList& lines, const TSelection& sel);
// The run text of a selection: the selected lines, each followed by CR LF.
QString SelectedText(const QStringList& lines, const TSelection& sel);
// True when Text holds nothing but blanks and control characters.
bool IsBlankText(const QString& text);

// One line of cell texts padded to the columns' character widths: every non-empty cell
// that fits its width is followed by (width - length + 1) blanks; width is the column's
// pixel width divided by the font's point size, rounded half to even.
QString CellLine(const QStringList& cells, const std::vector<int>& pixelWidths, int fontPointSize);

// A field's display label as a caption: the first character and every character after an
// underscore upper-cased (ASCII letters only), each underscore a blank.
QString FieldCaption(const QString& text);

// The first 50 characters of a statement: its history description.
QString HistoryDescription(const QString& statement);

}  // namespace apptext
