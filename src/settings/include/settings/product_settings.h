// The product family's settings: the user's alias list and five machine-wide values,
// read once when the program starts and released when it ends.
//
// Both live under the family's key (the string table's ProductKey): the aliases in its
// "Aliases" subkey under the user's root, the five values under the machine's root. The
// program reads nothing here after start-up; what matters is that a missing key is no
// error and a value of the wrong type is. Engine side: no Qt, no user interface.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

// One alias, "name=value". The parts are worked out from the text on every call.
class TAlias {
 public:
  explicit TAlias(std::string text = {}) : FText(std::move(text)) {}

  const std::string& Text() const { return FText; }
  void SetText(std::string text) { FText = std::move(text); }

  // Before the first "=" (empty without one).
  std::string NamePart() const;
  // After the first "=" (the whole text without one).
  std::string Value() const;
  // The value's first token, without characters up to code 32 at either end and
  // without one path delimiter at its end.
  std::string PathPart() const;
  // The value after its first token and the delimiter that ends it; empty when the
  // value has no delimiter. Not trimmed.
  std::string RestPart() const;

 private:
  std::string FText;
};

// The aliases under the user's root, in the order the store lists them.
class TAliases {
 public:
  // Loads at once. (A C++ constructor reaches this class's Load, not an override: a
  // derived class that loads differently calls its own Load from its constructor.)
  TAliases();
  virtual ~TAliases();
  TAliases(const TAliases&) = delete;
  TAliases& operator=(const TAliases&) = delete;

  // Replaces the list with the values of the aliases key; a missing key gives an empty
  // list. A value that is not text raises platform::ERegistryException.
  virtual void Load();
  // Writes the list back: the key is deleted and made again, then every alias becomes
  // the value NamePart = PathPart ";" RestPart.
  virtual void Save();
  void Clear();

  int Count() const { return static_cast<int>(FList.size()); }
  TAlias& Items(int index) { return *FList.at(static_cast<std::size_t>(index)); }
  const TAlias& Items(int index) const { return *FList.at(static_cast<std::size_t>(index)); }
  TAlias& Add(std::string text);

 protected:
  std::vector<std::unique_ptr<TAlias>> FList;
};

// Each character code c of the text (in the Central European code page, Windows 1250)
// becomes (31 - c) mod 256. Applying it twice gives the text back, so it also makes the
// stored form of a text.
std::string UnscrambleText(std::string_view text);

// Reads the five values from the product key under the machine's root, read-only. A
// missing key leaves them empty; a missing value reads as empty; a value that is not
// text raises platform::ERegistryException ("Invalid data type for 'DataDir'").
void ReadProductSettings();

// The program-wide results; empty until read and after release.
const std::string& DataDir();  // ends in a path delimiter unless empty
const std::string& Company();
const std::string& IPAddress();     // the computer's name when unset or "0.0.0.0"
const std::string& SPI_UserName();  // unscrambled
const std::string& SPI_Password();  // unscrambled
// The alias list; null before start-up and after release.
TAliases* ProductAliases();

// Start-up: creates ProductAliases (which loads itself) and reads the five values. When
// either fails, everything is released again before the error goes on to the caller,
// which reports it and ends the program.
void InitializeProductSettings();
// Exit: frees ProductAliases and empties the five values.
void FinalizeProductSettings();

// Start-up and exit tied to a scope, for the program entry.
class ProductSettingsModule {
 public:
  ProductSettingsModule() { InitializeProductSettings(); }
  ~ProductSettingsModule() { FinalizeProductSettings(); }
  ProductSettingsModule(const ProductSettingsModule&) = delete;
  ProductSettingsModule& operator=(const ProductSettingsModule&) = delete;
};

}  // namespace settings
