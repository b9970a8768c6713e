// TMxBlobStream: memo and blob content read from the record buffer (or from DAO when the
// buffer holds only the size) and written into the buffer's value text with its changed mark,
// for posting to hand to DAO.
#include <algorithm>
#include <cstring>
#include <exception>

#include "daotable/mx_dao_table.h"
#include "platform/hooks.h"

namespace daotable {

std::unique_ptr<ds::TStream> TMxDaoTable::CreateBlobStream(ds::TField* field,
                                                           ds::TBlobStreamMode mode) {
  return std::make_unique<TMxBlobStream>(field, mode);
}

TMxBlobStream::TMxBlobStream(ds::TField* field, ds::TBlobStreamMode mode)
    : FField(field), FMode(mode) {
  FOpened = true;
  FTable = field != nullptr ? dynamic_cast<TMxDaoTable*>(field->DataSet()) : nullptr;
  if (FTable == nullptr) throw core::Exception("Invalid class typecast");
  FCloseCount = FTable->FCloseCount;
  FBuffer = FTable->GetActiveRecordBuffer();
  if (FBuffer == nullptr) return;
  auto index = static_cast<std::size_t>(field->FieldNo() - 1);
  TDaoValues& values = *TMxDaoTable::RecInfo(FBuffer).Values;
  if (field->FieldNo() < 1 || index >= values.size()) {
    FBuffer = nullptr;
    return;
  }
  if (mode == ds::bmWrite) {
    if (FTable->ReadOnly()) ds::DatabaseError("Cannot write to ReadOnly table!");
    FPosition = 0;
    Truncate();
    return;
  }
  const TDaoRecInfo& info = TMxDaoTable::RecInfo(FBuffer);
  ds::TFieldType type = field->DataType();
  const std::string& defaults =
      index < FTable->FFieldDefaults.size() ? FTable->FFieldDefaults[index] : std::string();
  auto* blob = dynamic_cast<ds::TBlobField*>(field);
  bool cached = (type == ds::ftMemo && FTable->FCacheMemos) ||
                (type == ds::ftBlob && FTable->FCacheBlobs) ||
                // Content this record's streams wrote is in the buffer, not in DAO yet.
                (blob != nullptr && blob->Modified()) || values[index].Changed;
  if (cached) {
    FOwnData = values[index].Text;
    if (info.RecordIndex == -1 && FOwnData.empty()) FOwnData = defaults;
    return;
  }
  if (!FTable->FRecordset) return;
  dao::Recordset& rs = *FTable->FRecordset;
  std::int32_t saved = FTable->CurrentDaoBookmark(rs);
  std::int32_t own = info.DaoBookmark;
  try {
    if (own > 0) FTable->GotoDaoBookmark(own);
    if (FTable->State() == ds::dsInsert && info.RecordIndex == -1) {
      FOwnData = values[index].Text;
      if (FOwnData.empty() && !defaults.empty()) FOwnData = defaults;
    } else {
      auto dao_field = rs.Fields().Item(static_cast<int>(index));
      core::Variant v = dao_field->Value();
      std::int32_t size = dao_field->FieldSize();
      if (v.IsNullOrEmpty()) {
        FOwnData.clear();
      } else if (type == ds::ftMemo) {
        FOwnData = v.ToString();
      } else if (v.Type() == core::VarType::ByteArray) {
        const auto& bytes = v.Bytes();
        std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(std::max(size, 0)));
        FOwnData.assign(reinterpret_cast<const char*>(bytes.data()), n);
      } else {
        FOwnData = v.ToString();
      }
      if (FTable->FEncrypterActive && !FOwnData.empty()) FOwnData = FTable->Decrypt(FOwnData);
    }
  } catch (const std::exception&) {
    FOwnData.clear();
    if (FTable->FOpenTableType != 8) {
      try {
        FTable->RecoverPosition();
      } catch (const std::exception&) {
      }
    }
  }
  if (saved > 0 && saved != own) {
    try {
      FTable->GotoDaoBookmark(saved);
    } catch (const std::exception&) {
    }
  }
}

TMxBlobStream::~TMxBlobStream() {
  try {
    // After a close the field object may be gone with the buffers; nobody is left to tell.
    if (FModified && FTable != nullptr && FField != nullptr && FTable->FCloseCount == FCloseCount)
      FTable->DataEvent(ds::deFieldChange, reinterpret_cast<std::intptr_t>(FField));
  } catch (...) {
    platform::HandleApplicationException(std::current_exception());
  }
  FOwnData.clear();
  FData = nullptr;
  FBuffer = nullptr;
  FOpened = false;
}

void TMxBlobStream::CheckBuffer() {
  if (FBuffer == nullptr || FTable->FCloseCount == FCloseCount) return;
  FBuffer = nullptr;
  if (FData != nullptr) {
    FData = nullptr;
    FOwnData.clear();
  }
}

// Cuts the content at the position; the buffer's text follows with its changed mark set.
void TMxBlobStream::Truncate() {
  std::string& data = Data();
  data.resize(static_cast<std::size_t>(
      std::clamp<std::int64_t>(FPosition, 0, static_cast<std::int64_t>(data.size()))));
  if (FBuffer != nullptr) {
    TDaoValue& entry =
        (*TMxDaoTable::RecInfo(FBuffer).Values)[static_cast<std::size_t>(FField->FieldNo() - 1)];
    if (FData != &entry.Text) {
      entry.Text = std::move(data);
      FOwnData.clear();
      FData = &entry.Text;
    }
    entry.Changed = true;
  }
  FModified = true;
}

std::int32_t TMxBlobStream::Read(void* buffer, std::int32_t count) {
  if (!FOpened || FPosition < 0) return 0;
  CheckBuffer();
  const std::string& data = Data();
  auto size = static_cast<std::int64_t>(data.size());
  if (count > size - FPosition)
    count = static_cast<std::int32_t>(std::max<std::int64_t>(size - FPosition, 0));
  if (count <= 0) return 0;
  std::memcpy(buffer, data.data() + FPosition, static_cast<std::size_t>(count));
  FPosition += count;
  return count;
}

std::int32_t TMxBlobStream::Write(const void* buffer, std::int32_t count) {
  if (!FOpened || count < 0) return 0;
  CheckBuffer();
  std::string& data = Data();
  std::size_t keep = static_cast<std::size_t>(
      std::clamp<std::int64_t>(FPosition, 0, static_cast<std::int64_t>(data.size())));
  data.resize(keep);
  data.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
  if (FBuffer != nullptr) {
    TDaoValue& entry =
        (*TMxDaoTable::RecInfo(FBuffer).Values)[static_cast<std::size_t>(FField->FieldNo() - 1)];
    if (FData != &entry.Text) {
      entry.Text = std::move(data);
      FOwnData.clear();
      FData = &entry.Text;
    }
    entry.Changed = true;
  }
  FModified = true;
  FPosition += count;
  return count;
}

std::int64_t TMxBlobStream::Seek(std::int64_t offset, int origin) {
  CheckBuffer();
  switch (origin) {
    case ds::soFromBeginning:
      FPosition = offset;
      break;
    case ds::soFromCurrent:
      FPosition += offset;
      break;
    case ds::soFromEnd:
      FPosition = static_cast<std::int64_t>(Data().size()) + offset;
      break;
    default:
      break;
  }
  return FPosition;
}

}  // namespace daotable
