// The record-buffered dataset framework: datasets, fields, field and index definitions,
// parameters, data sources and data links.
//
// A dataset class supplies data through the protected virtual operations of TDataSet (open,
// close, record buffers, navigation, field values, editing, bookmarks); the framework owns the
// state machine, the ring of record buffers, the field objects and the events, and calls those
// operations at fixed moments:
//   Open        -> InternalOpen (which builds FieldDefs, creates and binds the fields)
//   First/Last  -> InternalFirst / InternalLast, then GetRecord(next / prior) to fill the ring
//   Append      -> InternalInitRecord on a fresh buffer (flag bfEOF); no other call
//   Insert      -> InternalInitRecord (flag bfInserted, bookmark of the record it goes before)
//   Edit        -> InternalEdit while the state is still browse
//   Post        -> InternalPost in edit or insert state; then the state becomes browse and the
//                  buffers are refilled from the cursor (Resync with no options)
//   Cancel      -> InternalCancel; the pending buffer is dropped by the same refill
//   Delete      -> InternalDelete, then the refill
//   Refresh     -> InternalRefresh, then the refill
// Before each of InternalPost, InternalEdit, InternalDelete and InternalCancel the cursor is put
// on the active record (UpdateCursorPos: InternalSetToRecord, or InternalLast for an appended
// buffer, or InternalFirst for one inserted into an empty dataset).
//
// Native buffer forms exchanged through GetFieldData/SetFieldData (a null buffer pointer in
// SetFieldData means "set to null"):
//   ftString, ftFixedChar         UTF-8 text and a terminating zero, at most DataSize() bytes
//   ftSmallint, ftInteger, ftWord, ftAutoInc   32-bit signed integer
//   ftBoolean                     16-bit integer, non-zero is true
//   ftFloat, ftCurrency, ftBCD    64-bit IEEE double
//   ftDate                        32-bit day count, day 1 = 1 January of year 1
//   ftTime                        32-bit milliseconds since midnight
//   ftDateTime                    64-bit double: day count * 86400000 + milliseconds
//   ftBytes                       Size() bytes
//   ftVarBytes                    16-bit little-endian length, then up to Size() bytes
//   blob types                    none: read and written through CreateBlobStream
// Calculated and lookup fields live in the record buffer's calculated-field area: at the
// field's Offset() one presence byte (0 = null) followed by the native data.
//
// Errors are core::EDatabaseError raised through DatabaseError. This layer uses no Qt and
// touches no file.
//
// This header gathers the framework's headers: types.h (enumerations, buffer types, errors),
// defs.h (field and index definitions), params.h, fields.h (field objects), dataset.h
// (TDataSet) and datasource.h (data sources and links).
#pragma once

#include "dataset/dataset.h"
#include "dataset/datasource.h"
#include "dataset/defs.h"
#include "dataset/fields.h"
#include "dataset/params.h"
#include "dataset/types.h"
