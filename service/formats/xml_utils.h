#pragma once

// The mapping between our objects and XML elements.
//
// Objects that take part derive from TXmlItem and publish their properties in a table of
// TXmlProperty descriptors. TXmlUtils walks those tables: every property becomes one child
// element named as the property, holding its value as text (integers in decimal, Booleans
// and enumerations by name, texts as they are) or, for object properties, the object's own
// properties as child elements. Collections (TXmlCollection) add one element per item,
// named by the collection's item tag.
//
// Reading is forgiving about form and strict about values: elements may come in any order
// and any letter case, unknown elements are ignored, an unknown enumeration name gives -1;
// an integer text that is no number raises EXmlConvertError, so that a damaged file is
// refused as a whole instead of loading with silently wrong sizes or checksums.
//
// Thread-safety: the functions keep no state; an object and an element are used by one
// thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace Update::Service {

class TXmlItem;

enum class TXmlPropertyKind : std::uint8_t {
  pkInteger,      // signed 32-bit
  pkInt64,        // signed 64-bit
  pkBoolean,      // "False" / "True"
  pkEnumeration,  // by the names in EnumNames; the ordinal is the index, -1 for none
  pkText,
  pkObject,  // a nested TXmlItem (possibly a TXmlCollection); may be absent
};

// One published property. The accessors are plain function pointers over the owning
// class (captureless lambdas that cast the item to their class); which of them are set
// depends on Kind. A property without setter is read-only and ignored on reading.
struct TXmlProperty {
  std::string_view Name;
  TXmlPropertyKind Kind = TXmlPropertyKind::pkText;
  std::span<const std::string_view> EnumNames{};
  std::int64_t (*GetOrdinal)(const TXmlItem&) = nullptr;  // integer, Int64, Boolean, enumeration
  void (*SetOrdinal)(TXmlItem&, std::int64_t) = nullptr;
  std::string (*GetText)(const TXmlItem&) = nullptr;  // text
  void (*SetText)(TXmlItem&, std::string) = nullptr;
  const TXmlItem* (*GetObject)(const TXmlItem&) = nullptr;  // object: null when absent
  TXmlItem* (*GetMutableObject)(TXmlItem&) = nullptr;
};

class TXmlCollection;

class TXmlItem {
 public:
  virtual ~TXmlItem() = default;
  // The element name of the item.
  virtual std::string GetTagName() const = 0;
  // The published properties, sorted by name without regard to case (the order in which
  // they are written).
  virtual std::span<const TXmlProperty> GetProperties() const = 0;
  virtual TXmlCollection* AsCollection() { return nullptr; }
  virtual const TXmlCollection* AsCollection() const { return nullptr; }
};

// A list of items that maps to one element per item (named GetItemTagName()), next to the
// collection's own properties.
class TXmlCollection : public TXmlItem {
 public:
  virtual std::string GetItemTagName() const = 0;
  virtual void ClearItems() = 0;
  // Appends a new default item and returns it; the collection owns it.
  virtual TXmlItem& AddXmlItem() = 0;
  virtual std::size_t XmlItemCount() const = 0;
  virtual const TXmlItem& XmlItemAt(std::size_t aIndex) const = 0;
  TXmlCollection* AsCollection() override { return this; }
  const TXmlCollection* AsCollection() const override { return this; }
};

// A value text that cannot be converted to its property's type.
class EXmlConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TXmlUtils {
 public:
  // The property's value as text; nullopt for an unknown name and for object properties.
  static std::optional<std::string> GetPropAsString(const TXmlItem& aObject, std::string_view aPropName);
  // Sets a simple property from its text. Unknown names, object properties and read-only
  // properties are ignored; an enumeration name that does not exist gives -1 (Booleans
  // compare "True"/"False" without regard to case). Integers: decimal with optional sign,
  // blanks around it allowed; values up to 4294967295 are taken as unsigned 32-bit bit
  // patterns (checksums written by tools that print them unsigned). Raises
  // EXmlConvertError for any other integer text.
  static void SetPropFromString(TXmlItem& aObject, std::string_view aPropName, std::string_view aText);

  // Appends the object's properties to aElement as child elements (see the file comment).
  static void ObjectToXml(const TXmlItem& aObject, pugi::xml_node aElement);
  // Fills the object from the child elements of aElement. For a collection the items are
  // replaced by one new item per child element named like the item tag.
  static void XmlToObject(TXmlItem& aObject, pugi::xml_node aElement);
  // True for a text or CDATA node, and for an element whose only child is one.
  static bool IsTextNode(pugi::xml_node aElement);

  // Looks a property up by name without regard to case.
  static const TXmlProperty* FindProperty(const TXmlItem& aObject, std::string_view aPropName);
};

// The enumeration names of Boolean properties.
inline constexpr std::string_view kXmlBooleanNames[] = {"False", "True"};

}  // namespace Update::Service
