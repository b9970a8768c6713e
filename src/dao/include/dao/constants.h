// DAO's published constants, with DAO's names and values.
//
// Callers written against DAO pass these numbers around (recordset types, lock types, field
// attributes, data type codes), so the values are DAO's exactly; the names are DAO's too, so
// that code reads the way DAO code reads.
#pragma once

#include <cstdint>

namespace dao {

// DataTypeEnum: Field.Type, Property.Type, Parameter.Type.
inline constexpr int dbBoolean = 1;
inline constexpr int dbByte = 2;
inline constexpr int dbInteger = 3;
inline constexpr int dbLong = 4;
inline constexpr int dbCurrency = 5;
inline constexpr int dbSingle = 6;
inline constexpr int dbDouble = 7;
inline constexpr int dbDate = 8;
inline constexpr int dbBinary = 9;
inline constexpr int dbText = 10;
inline constexpr int dbLongBinary = 11;
inline constexpr int dbMemo = 12;
inline constexpr int dbGUID = 15;
inline constexpr int dbBigInt = 16;
inline constexpr int dbVarBinary = 17;
inline constexpr int dbChar = 18;
inline constexpr int dbNumeric = 19;
inline constexpr int dbDecimal = 20;
inline constexpr int dbFloat = 21;
inline constexpr int dbTime = 22;
inline constexpr int dbTimeStamp = 23;

// RecordsetTypeEnum.
inline constexpr int dbOpenTable = 1;
inline constexpr int dbOpenDynaset = 2;
inline constexpr int dbOpenSnapshot = 4;
inline constexpr int dbOpenForwardOnly = 8;
inline constexpr int dbOpenDynamic = 16;

// RecordsetOptionEnum (summed).
inline constexpr int dbDenyWrite = 1;
inline constexpr int dbDenyRead = 2;
inline constexpr int dbReadOnly = 4;
inline constexpr int dbAppendOnly = 8;
inline constexpr int dbInconsistent = 16;
inline constexpr int dbConsistent = 32;
inline constexpr int dbSQLPassThrough = 64;
inline constexpr int dbFailOnError = 128;
inline constexpr int dbForwardOnly = 256;
inline constexpr int dbSeeChanges = 512;
inline constexpr int dbRunAsync = 1024;
inline constexpr int dbExecDirect = 2048;

// LockTypeEnum (dbReadOnly = 4 is shared with the options above).
inline constexpr int dbOptimisticValue = 1;
inline constexpr int dbPessimistic = 2;
inline constexpr int dbOptimistic = 3;
inline constexpr int dbOptimisticBatch = 5;

// EditModeEnum.
inline constexpr int dbEditNone = 0;
inline constexpr int dbEditInProgress = 1;
inline constexpr int dbEditAdd = 2;

// FieldAttributeEnum.
inline constexpr std::int32_t dbFixedField = 1;
inline constexpr std::int32_t dbDescending = 1;  // on the fields of an Index only
inline constexpr std::int32_t dbVariableField = 2;
inline constexpr std::int32_t dbAutoIncrField = 16;
inline constexpr std::int32_t dbUpdatableField = 32;
inline constexpr std::int32_t dbSystemField = 8192;
inline constexpr std::int32_t dbHyperlinkField = 32768;

// TableDefAttributeEnum. dbSystemObject is two bits: a test against the whole constant
// catches either of them.
inline constexpr std::int32_t dbHiddenObject = 0x1;
inline constexpr std::int32_t dbAttachExclusive = 0x10000;
inline constexpr std::int32_t dbAttachSavePWD = 0x20000;
inline constexpr std::int32_t dbAttachedODBC = 0x20000000;
inline constexpr std::int32_t dbAttachedTable = 0x40000000;
inline constexpr std::int32_t dbSystemObject = static_cast<std::int32_t>(0x80000002u);

// WorkspaceTypeEnum.
inline constexpr int dbUseODBC = 1;
inline constexpr int dbUseJet = 2;

// CursorDriverEnum.
inline constexpr int dbUseDefaultCursor = -1;

// IdleEnum.
inline constexpr int dbFreeLocks = 1;
inline constexpr int dbRefreshCache = 8;

// DatabaseTypeEnum (CreateDatabase options, summed).
inline constexpr int dbVersion10 = 1;
inline constexpr int dbEncrypt = 2;
inline constexpr int dbDecrypt = 4;
inline constexpr int dbVersion11 = 8;
inline constexpr int dbVersion20 = 16;
inline constexpr int dbVersion30 = 32;
inline constexpr int dbVersion40 = 64;

// LanguageConstants: the locale texts of the sort orders databases can be created in.
inline constexpr const char* dbLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";
inline constexpr const char* dbLangCzech = ";LANGID=0x0405;CP=1250;COUNTRY=0";
inline constexpr const char* dbLangPolish = ";LANGID=0x0415;CP=1250;COUNTRY=0";
inline constexpr const char* dbLangSlovenian = ";LANGID=0x0424;CP=1250;COUNTRY=0";
inline constexpr const char* dbLangTurkish = ";LANGID=0x041F;CP=1254;COUNTRY=0";

// CollatingOrderEnum values that matter here.
inline constexpr int dbSortGeneral = 1033;
inline constexpr int dbSortUndefined = -1;

// ParameterDirectionEnum.
inline constexpr int dbParamInput = 1;
inline constexpr int dbParamOutput = 2;
inline constexpr int dbParamInputOutput = 3;
inline constexpr int dbParamReturnValue = 4;

// QueryDefTypeEnum.
inline constexpr int dbQSelect = 0;
inline constexpr int dbQAction = 240;

}  // namespace dao
