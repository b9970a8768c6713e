// The dataset framework's enumerations, buffer and bookmark types, and its error routine.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "core/variant.h"
#include "dataset/classes.h"

namespace ds {

using core::EDatabaseError;
using core::Variant;

// Raises EDatabaseError with the message, prefixed with "<Name>: " when a named component is
// given.
[[noreturn]] void DatabaseError(const std::string& message, const TComponent* component = nullptr);

// ---------------------------------------------------------------------------------------------
// Enumerations

// The ordinals are fixed: DAO type mapping and stored settings depend on them.
enum class TFieldType : int {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
  ftOraBlob = 30,
  ftOraClob = 31,
  ftVariant = 32,
  ftInterface = 33,
  ftIDispatch = 34,
  ftGuid = 35,
  ftTimeStamp = 36,
  ftFMTBcd = 37,
};
using enum TFieldType;
// "String", "SmallInt", ... as messages name the types.
const char* FieldTypeName(TFieldType type);
bool IsBlobType(TFieldType type);

enum class TDataSetState : int {
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
  dsOpening,
};
using enum TDataSetState;

enum class TDataEvent : int {
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
  deParentScroll,
  deConnectChange,
  deReconcileError,
  deDisabledStateChange,
};
using enum TDataEvent;

enum class TGetMode : int { gmCurrent, gmNext, gmPrior };
using enum TGetMode;
// Values as the dataset operations answer them: ok 0, at beginning 1, at end 2, error 3.
enum class TGetResult : int { grOK = 0, grBOF = 1, grEOF = 2, grError = 3 };
using enum TGetResult;
// Values as record buffers store them: current 0, before first 1, after last 2, inserted 3.
enum class TBookmarkFlag : int { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
using enum TBookmarkFlag;

enum class TResyncModeFlag : int { rmExact, rmCenter };
using enum TResyncModeFlag;
using TResyncMode = TSet<TResyncModeFlag>;

// Answer of an error event: fail 0 (raise), abort 1 (leave quietly), retry 2.
enum class TDataAction : int { daFail = 0, daAbort = 1, daRetry = 2 };
using enum TDataAction;

enum class TLocateOption : int { loCaseInsensitive, loPartialKey };
using enum TLocateOption;
using TLocateOptions = TSet<TLocateOption>;

enum class TFilterOption : int { foCaseInsensitive, foNoPartialCompare };
using enum TFilterOption;
using TFilterOptions = TSet<TFilterOption>;

enum class TFieldKind : int { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
using enum TFieldKind;

enum class TFieldAttribute : int {
  faHiddenCol,
  faReadonly,
  faRequired,
  faLink,
  faUnNamed,
  faFixed
};
using enum TFieldAttribute;
using TFieldAttributes = TSet<TFieldAttribute>;

enum class TIndexOption : int {
  ixPrimary = 0,
  ixUnique = 1,
  ixDescending = 2,
  ixCaseInsensitive = 3,
  ixExpression = 4,
  ixNonMaintained = 5,
};
using enum TIndexOption;
using TIndexOptions = TSet<TIndexOption>;

enum class TBlobStreamMode : int { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };
using enum TBlobStreamMode;

enum class TParamType : int { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };
using enum TParamType;

enum class TAlignment : int { taLeftJustify, taRightJustify, taCenter };
using enum TAlignment;

// A record buffer is a block whose layout belongs to the dataset class; the framework only
// keeps, rotates and hands back the pointers AllocRecordBuffer gave it.
using TRecordBuffer = std::uint8_t*;
// A bookmark: BookmarkSize() bytes of the dataset's choosing; empty means "no bookmark".
using TBookmark = std::vector<std::uint8_t>;
// The same bytes as a string (the `Bookmark` property).
using TBookmarkStr = std::string;

// The characters a field accepts as input (bytes; UTF-8 continuation bytes count as themselves).
using TFieldChars = std::bitset<256>;
TFieldChars FieldChars(std::string_view characters);
TFieldChars AllFieldChars();

class TDataSet;
class TField;
class TFields;
class TFieldDefs;
class TIndexDefs;
class TDataSource;
class TDataLink;

}  // namespace ds
