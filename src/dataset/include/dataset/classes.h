// Components, string lists and streams: the small object kit the dataset framework and the
// database components stand on.
//
// A component has an owner that destroys it, a name unique among its owner's components,
// a state (loading, designing, destroying) and receives a removal notice when a component it
// refers to goes away. A string list keeps one object slot per line (the DAO table marks
// changed values there). Streams move byte payloads; nothing in here converts text.
// No Qt, no I/O: a memory stream is the only concrete stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/errors.h"

namespace ds {

// A set of enumeration members, as the original's `set of` types: member k is bit k.
template <typename E>
class TSet {
 public:
  using Bits = std::uint64_t;
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) bits_ |= Bit(m);
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TSet& Include(E m) {
    bits_ |= Bit(m);
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    bits_ &= ~Bit(m);
    return *this;
  }
  constexpr TSet operator+(TSet o) const { return FromBits(bits_ | o.bits_); }
  constexpr TSet operator-(TSet o) const { return FromBits(bits_ & ~o.bits_); }
  constexpr TSet operator*(TSet o) const { return FromBits(bits_ & o.bits_); }
  friend constexpr bool operator==(TSet a, TSet b) = default;

 private:
  static constexpr Bits Bit(E m) { return Bits{1} << static_cast<unsigned>(m); }
  Bits bits_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Components

enum class TOperation { opInsert, opRemove };
using enum TOperation;

enum class TComponentStateFlag { csLoading, csReading, csWriting, csDestroying, csDesigning };
using enum TComponentStateFlag;
using TComponentState = TSet<TComponentStateFlag>;

class TComponent;
using TNotifyEvent = std::function<void(TComponent* sender)>;

class TComponent {
 public:
  // The owner, when given, takes the new component into its list and destroys it with itself.
  explicit TComponent(TComponent* owner = nullptr);
  // Sets csDestroying (on owned components too), tells every component that asked for a
  // removal notice, destroys the owned components, and leaves the owner's list.
  // A derived class whose clean-up calls its own virtual operations does that clean-up in its
  // own destructor: by the time this one runs, the derived part is gone.
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Raises EComponentError for a name that is no identifier or that another component of the
  // same owner already has (names compare without regard to case). The empty name is allowed.
  virtual void SetName(const std::string& name);
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const {
    return components_.at(static_cast<std::size_t>(index));
  }
  TComponent* FindComponent(std::string_view name) const;
  int ComponentIndex() const;

  // Adopts or releases a component (the owner changes; the component itself is not destroyed).
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  // Deletes every owned component, the last one first.
  void DestroyComponents();

  TComponentState ComponentState() const { return state_; }
  // Streaming replacement: BeginLoading sets csLoading and csReading on this component (the
  // stored property values are then applied); EndLoading clears them and runs Loaded.
  void BeginLoading();
  void EndLoading();
  void SetDesigning(bool designing);
  // Marks this component and every owned one as being destroyed.
  void Destroying();

  // Asks for a removal notice (Notification with opRemove) when `component` is destroyed;
  // the request is mutual, as in the original, so either side may go first.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Called after the stored property values have been applied.
  virtual void Loaded();
  // A component this one refers to is inserted or removed. The default forwards the notice to
  // every owned component.
  virtual void Notification(TComponent* component, TOperation operation);

 protected:
  void SetComponentState(TComponentStateFlag flag, bool on);

 private:
  void SetOwnerInternal(TComponent* owner);
  void NotifyRemoval();

  TComponent* owner_ = nullptr;
  std::string name_;
  std::intptr_t tag_ = 0;
  TComponentState state_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
};

class EComponentError : public core::Exception {
 public:
  using core::Exception::Exception;
};

// Raised to leave an operation quietly (an error event answered abort); the application's
// top-level handler shows nothing for it.
using EAbort = core::EAbort;
[[noreturn]] void Abort();

// ---------------------------------------------------------------------------------------------
// String lists

class EStringListError : public core::Exception {
 public:
  using core::Exception::Exception;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };
using enum TDuplicates;

// A list of strings, each with an object slot. The slot holds an untyped pointer that the list
// never owns; a null slot is "empty".
//
// Text joins lines with CR LF after every line; setting Text splits at CR LF, LF or CR.
// CommaText quotes an item that holds a blank, a control character, a comma or a double quote
// (doubling inner quotes); reading it splits at commas and blanks outside quotes.
// Names/Values address lines of the form name=value; IndexOf and IndexOfName compare without
// regard to case unless CaseSensitive is set.
class TStringList {
 public:
  TStringList() = default;
  TStringList(const TStringList& other);
  TStringList& operator=(const TStringList& other);

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // Raise EStringListError "List index out of bounds (i)" outside 0..Count-1.
  const std::string& Strings(int index) const;
  void SetStrings(int index, std::string value);
  const std::string& operator[](int index) const { return Strings(index); }
  void* Objects(int index) const;
  void SetObjects(int index, void* object);

  int Add(std::string value);
  int AddObject(std::string value, void* object);
  void Insert(int index, std::string value);
  void InsertObject(int index, std::string value, void* object);
  void Delete(int index);
  void Clear();
  void Move(int from, int to);
  void Exchange(int a, int b);
  void AddStrings(const TStringList& other);
  // Copies strings and object slots.
  void Assign(const TStringList& other);
  bool Equals(const TStringList& other) const;  // strings only

  int IndexOf(std::string_view value) const;
  int IndexOfObject(const void* object) const;
  int IndexOfName(std::string_view name) const;

  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;
  // An empty value deletes the line; otherwise the line is replaced or appended.
  void SetValues(std::string_view name, std::string_view value);

  std::string Text() const;
  void SetText(std::string_view text);
  std::string CommaText() const;
  void SetCommaText(std::string_view text);
  std::string DelimitedText(char delimiter = ',', char quote = '"') const;
  void SetDelimitedText(std::string_view text, char delimiter = ',', char quote = '"');

  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool value);
  bool Sorted() const { return sorted_; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates value) { duplicates_ = value; }
  void Sort();
  // Binary search of a sorted list; `index` is where the string is or would go.
  bool Find(std::string_view value, int& index) const;

  // Change notifications, suppressed between BeginUpdate and EndUpdate (one OnChange at the end
  // when something changed).
  void BeginUpdate();
  void EndUpdate();
  std::function<void(TStringList* sender)> OnChanging;
  std::function<void(TStringList* sender)> OnChange;

 private:
  struct Item {
    std::string text;
    void* object = nullptr;
  };
  int Compare(std::string_view a, std::string_view b) const;
  void Changing();
  void Changed();
  void CheckIndex(int index) const;

  std::vector<Item> items_;
  bool case_sensitive_ = false;
  bool sorted_ = false;
  TDuplicates duplicates_ = dupIgnore;
  int update_count_ = 0;
  bool changed_while_updating_ = false;
};

// ---------------------------------------------------------------------------------------------
// Streams

class EStreamError : public core::Exception {
 public:
  using core::Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// A byte stream. Read and Write move at most `count` bytes and answer how many moved; Seek
// answers the new position. ReadBuffer/WriteBuffer insist on the whole count.
class TStream {
 public:
  virtual ~TStream() = default;
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

  std::int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
  virtual std::int64_t Size();
  // Streams that cannot change their size ignore this.
  virtual void SetSize(std::int64_t size);

  // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short count.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies `count` bytes from the source's position; count 0 copies the whole source from
  // its start. Returns the number of bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // The rest of the stream from its position, and writing a whole byte string.
  std::string ReadAll();
  void WriteString(std::string_view bytes) {
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }
};

// A stream over a growable block of memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes);

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  void Clear();
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& destination);
  const std::uint8_t* Memory() const { return reinterpret_cast<const std::uint8_t*>(data_.data()); }
  const std::string& DataString() const { return data_; }

 private:
  std::string data_;
  std::int64_t position_ = 0;
};

}  // namespace ds
