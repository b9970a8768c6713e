#include "dataset/classes.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ds {

namespace {

bool IsIdentifier(std::string_view name) {
  if (name.empty()) return false;
  auto first = static_cast<unsigned char>(name[0]);
  if (!(std::isalpha(first) || first == '_')) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || u == '_';
  });
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

int CompareTextAscii(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(LowerAscii(a[i]));
    auto y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

void Abort() {
  throw EAbort();
}

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  NotifyRemoval();
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::NotifyRemoval() {
  // Each side of a free-notification pair drops the other before being told, so a component
  // that destroys something in its Notification cannot make us walk a stale list.
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    auto& theirs = other->free_notifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    other->Notification(this, opRemove);
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsIdentifier(name))
    throw EComponentError("'" + name + "' is not a valid component name");
  if (!name.empty() && owner_ != nullptr) {
    TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  name_ = name;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameTextAscii(c->name_, name)) return c;
  return nullptr;
}

int TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component->owner_ == this) return;
  if (!component->name_.empty() && FindComponent(component->name_) != nullptr)
    throw EComponentError("A component named " + component->name_ + " already exists");
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it == components_.end()) return;
  Notification(component, opRemove);
  // The notification may have changed the list.
  it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
  component->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    components_.pop_back();
    c->owner_ = nullptr;
    // The siblings still hear about it, as when a component leaves its owner.
    Notification(c, opRemove);
    delete c;
  }
}

void TComponent::BeginLoading() {
  SetComponentState(csLoading, true);
  SetComponentState(csReading, true);
}

void TComponent::EndLoading() {
  SetComponentState(csReading, false);
  SetComponentState(csLoading, false);
  Loaded();
}

void TComponent::SetDesigning(bool designing) {
  SetComponentState(csDesigning, designing);
  for (TComponent* c : components_) c->SetDesigning(designing);
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::SetComponentState(TComponentStateFlag flag, bool on) {
  if (on)
    state_.Include(flag);
  else
    state_.Exclude(flag);
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end())
    free_notifies_.push_back(component);
  auto& theirs = component->free_notifies_;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  free_notifies_.erase(std::remove(free_notifies_.begin(), free_notifies_.end(), component),
                       free_notifies_.end());
  auto& theirs = component->free_notifies_;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::Loaded() {}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component != nullptr) RemoveFreeNotification(component);
  // Copy: a child may remove itself or others while being told.
  std::vector<TComponent*> children = components_;
  for (TComponent* c : children) {
    if (c != component && std::find(components_.begin(), components_.end(), c) != components_.end())
      c->Notification(component, operation);
  }
}

// ---------------------------------------------------------------------------------------------
// TStringList

TStringList::TStringList(const TStringList& other)
    : items_(other.items_),
      case_sensitive_(other.case_sensitive_),
      sorted_(other.sorted_),
      duplicates_(other.duplicates_) {}

TStringList& TStringList::operator=(const TStringList& other) {
  if (this != &other) Assign(other);
  return *this;
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringList::Strings(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].text;
}

void TStringList::SetStrings(int index, std::string value) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index);
  Changing();
  items_[static_cast<std::size_t>(index)].text = std::move(value);
  Changed();
}

void* TStringList::Objects(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].object;
}

void TStringList::SetObjects(int index, void* object) {
  CheckIndex(index);
  // The object slot is bookkeeping, not content: no change notification.
  items_[static_cast<std::size_t>(index)].object = object;
}

int TStringList::Add(std::string value) {
  return AddObject(std::move(value), nullptr);
}

int TStringList::AddObject(std::string value, void* object) {
  int index = Count();
  if (sorted_) {
    if (Find(value, index)) {
      if (duplicates_ == dupIgnore) return index;
      if (duplicates_ == dupError) throw EStringListError("String list does not allow duplicates");
    }
  }
  Changing();
  items_.insert(items_.begin() + index, Item{std::move(value), object});
  Changed();
  return index;
}

void TStringList::Insert(int index, std::string value) {
  InsertObject(index, std::move(value), nullptr);
}

void TStringList::InsertObject(int index, std::string value, void* object) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count())
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
  Changing();
  items_.insert(items_.begin() + index, Item{std::move(value), object});
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  Changed();
}

void TStringList::Move(int from, int to) {
  if (from == to) return;
  CheckIndex(from);
  CheckIndex(to);
  Changing();
  Item item = std::move(items_[static_cast<std::size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(item));
  Changed();
}

void TStringList::Exchange(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  Changing();
  std::swap(items_[static_cast<std::size_t>(a)], items_[static_cast<std::size_t>(b)]);
  Changed();
}

void TStringList::AddStrings(const TStringList& other) {
  BeginUpdate();
  try {
    for (const Item& item : std::vector<Item>(other.items_)) AddObject(item.text, item.object);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStringList::Assign(const TStringList& other) {
  if (this == &other) return;
  BeginUpdate();
  items_.clear();
  changed_while_updating_ = true;
  if (sorted_) {
    try {
      AddStrings(other);
    } catch (...) {
      EndUpdate();
      throw;
    }
  } else {
    items_ = other.items_;
  }
  EndUpdate();
}

bool TStringList::Equals(const TStringList& other) const {
  if (Count() != other.Count()) return false;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].text != other.items_[i].text) return false;
  return true;
}

int TStringList::Compare(std::string_view a, std::string_view b) const {
  if (case_sensitive_) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return CompareTextAscii(a, b);
}

int TStringList::IndexOf(std::string_view value) const {
  if (sorted_) {
    int index;
    return Find(value, index) ? index : -1;
  }
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (Compare(items_[i].text, value) == 0) return static_cast<int>(i);
  return -1;
}

int TStringList::IndexOfObject(const void* object) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].object == object) return static_cast<int>(i);
  return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const std::string& s = items_[i].text;
    auto eq = s.find('=');
    if (eq != std::string::npos && Compare(std::string_view(s).substr(0, eq), name) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& s = Strings(index);
  auto eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& s = Strings(index);
  auto eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

std::string TStringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValues(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i < 0)
    Add(std::move(line));
  else
    SetStrings(i, std::move(line));
}

std::string TStringList::Text() const {
  std::string out;
  for (const Item& item : items_) {
    out += item.text;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  BeginUpdate();
  items_.clear();
  changed_while_updating_ = true;
  std::size_t start = 0;
  std::vector<std::string> lines;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    lines.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r') ++end;
    if (end < text.size() && text[end] == '\n') ++end;
    start = end;
  }
  try {
    for (auto& line : lines) AddObject(std::move(line), nullptr);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStringList::DelimitedText(char delimiter, char quote) const {
  std::string out;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const std::string& s = items_[i].text;
    // A lone empty item is quoted, or it would read back as no item at all.
    bool needs_quote =
        (s.empty() && items_.size() == 1) || std::any_of(s.begin(), s.end(), [&](char c) {
          auto u = static_cast<unsigned char>(c);
          return u <= ' ' || c == quote || c == delimiter;
        });
    if (i > 0) out += delimiter;
    if (needs_quote) {
      out += quote;
      for (char c : s) {
        out += c;
        if (c == quote) out += quote;
      }
      out += quote;
    } else {
      out += s;
    }
  }
  return out;
}

void TStringList::SetDelimitedText(std::string_view text, char delimiter, char quote) {
  BeginUpdate();
  items_.clear();
  changed_while_updating_ = true;
  std::vector<std::string> parts;
  std::size_t p = 0;
  auto blank = [&](std::size_t i) { return static_cast<unsigned char>(text[i]) <= ' '; };
  while (p < text.size() && blank(p)) ++p;
  while (p < text.size()) {
    std::string item;
    if (text[p] == quote) {
      ++p;
      while (p < text.size()) {
        if (text[p] == quote) {
          if (p + 1 < text.size() && text[p + 1] == quote) {
            item += quote;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      while (p < text.size() && !blank(p) && text[p] != delimiter) item += text[p++];
    }
    parts.push_back(std::move(item));
    while (p < text.size() && blank(p)) ++p;
    if (p < text.size() && text[p] == delimiter) {
      ++p;
      // A trailing delimiter still ends an (empty) item.
      std::size_t q = p;
      while (q < text.size() && blank(q)) ++q;
      if (q >= text.size()) parts.emplace_back();
      while (p < text.size() && blank(p)) ++p;
    }
  }
  try {
    for (auto& s : parts) AddObject(std::move(s), nullptr);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStringList::CommaText() const {
  return DelimitedText(',', '"');
}
void TStringList::SetCommaText(std::string_view text) {
  SetDelimitedText(text, ',', '"');
}

void TStringList::SetCaseSensitive(bool value) {
  if (case_sensitive_ == value) return;
  case_sensitive_ = value;
  if (sorted_) Sort();
}

void TStringList::SetSorted(bool value) {
  if (sorted_ == value) return;
  if (value) Sort();
  sorted_ = value;
}

void TStringList::Sort() {
  Changing();
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return Compare(a.text, b.text) < 0; });
  Changed();
}

bool TStringList::Find(std::string_view value, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = Compare(items_[static_cast<std::size_t>(mid)].text, value);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TStringList::BeginUpdate() {
  if (update_count_ == 0) changed_while_updating_ = false;
  ++update_count_;
}

void TStringList::EndUpdate() {
  if (update_count_ == 0) return;
  if (--update_count_ == 0 && changed_while_updating_) {
    changed_while_updating_ = false;
    if (OnChange) OnChange(this);
  }
}

void TStringList::Changing() {
  if (update_count_ == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (update_count_ > 0) {
    changed_while_updating_ = true;
    return;
  }
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------
// Streams

std::int64_t TStream::Size() {
  std::int64_t pos = Seek(0, soFromCurrent);
  std::int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) {}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(count, 1 << 30));
    std::int32_t got = Read(out, chunk);
    if (got != chunk) throw EReadError("Stream read error");
    out += got;
    count -= got;
  }
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  auto* in = static_cast<const std::uint8_t*>(buffer);
  while (count > 0) {
    auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(count, 1 << 30));
    std::int32_t put = Write(in, chunk);
    if (put != chunk) throw EWriteError("Stream write error");
    in += put;
    count -= put;
  }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size() - source.Position();
  }
  if (count <= 0) return 0;
  constexpr std::int64_t kChunk = 64 * 1024;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  std::int64_t left = count;
  while (left > 0) {
    std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

std::string TStream::ReadAll() {
  std::int64_t size = Size();
  std::int64_t pos = Position();
  std::string out;
  if (size > pos) {
    out.resize(static_cast<std::size_t>(size - pos));
    std::int64_t got = 0;
    while (got < static_cast<std::int64_t>(out.size())) {
      auto chunk = static_cast<std::int32_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(out.size()) - got, 1 << 30));
      std::int32_t n = Read(out.data() + got, chunk);
      if (n <= 0) break;
      got += n;
    }
    out.resize(static_cast<std::size_t>(got));
  }
  return out;
}

TMemoryStream::TMemoryStream(std::string_view bytes) : data_(bytes) {}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
  auto size = static_cast<std::int64_t>(data_.size());
  if (count <= 0 || position_ < 0 || position_ >= size) return 0;
  auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size - position_));
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0 || position_ < 0) return 0;
  auto end = static_cast<std::size_t>(position_ + count);
  if (end > data_.size()) data_.resize(end, '\0');
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
  switch (origin) {
    case soFromBeginning:
      position_ = offset;
      break;
    case soFromCurrent:
      position_ += offset;
      break;
    case soFromEnd:
      position_ = static_cast<std::int64_t>(data_.size()) + offset;
      break;
    default:
      break;
  }
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) size = 0;
  data_.resize(static_cast<std::size_t>(size), '\0');
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  data_ = source.ReadAll();
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& destination) {
  destination.WriteString(data_);
}

}  // namespace ds
