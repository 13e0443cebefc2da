// Enumerations and small value types of the dataset abstraction: states, record-fetch modes
// and results, bookmark flags, data events, field kinds, error actions and locate options.
#pragma once

#include <QByteArray>
#include <QFlags>

#include "access/FieldType.h"

// What a dataset is doing; the buffer that field reads and writes use depends on it.
enum class TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening
};

// Which record GetRecord is asked for, relative to the cursor.
enum class TGetMode { gmCurrent, gmNext, gmPrior };
// What GetRecord delivered.
enum class TGetResult { grOK, grBOF, grEOF, grError };
// Where a buffer's record stands: a stored record, the crack before the first or after the
// last record, or a record being inserted.
enum class TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

// Notifications a dataset sends to its data sources, data links and nested datasets.
enum class TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll
};

// Where a field's value comes from.
enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// The answer of an OnPostError/OnEditError/OnDeleteError handler.
enum class TDataAction { daFail, daAbort, daRetry };

// How a blob stream is opened.
enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// Options of Locate.
enum class TLocateOption { loCaseInsensitive = 1, loPartialKey = 2 };
Q_DECLARE_FLAGS(TLocateOptions, TLocateOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TLocateOptions)

// Options of Resync: rmExact insists on the current record, rmCenter centres it in the buffers.
enum class TResyncModeFlag { rmExact = 1, rmCenter = 2 };
Q_DECLARE_FLAGS(TResyncMode, TResyncModeFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TResyncMode)

// A record buffer: raw bytes laid out by the dataset that allocated it.
using TRecordBuffer = char*;
// A bookmark: the dataset's own bytes (four for the memory datasets); empty means none.
using TBookmark = QByteArray;
