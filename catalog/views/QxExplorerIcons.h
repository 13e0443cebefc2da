// The explorer's image list: one small icon per image index of TQxSvrExplore (a database, each
// category folder, a table's sub-folders, a column and a parameter), drawn once per program and
// shared by every node that shows it.
#pragma once

#include <QIcon>

// The icon of explorer image Image (TQxSvrExplore::TImage); an empty icon for -1 and unknown
// indexes. The same QIcon object is returned every time.
const QIcon& ExplorerIcon(int image);
