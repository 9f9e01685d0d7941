#include "service/formats/xml_utils.h"

#include <charconv>
#include <limits>

#include "platform/text/text.h"

namespace Update::Service {

namespace {

std::string_view TrimBlanks(std::string_view aText) {
  const auto first = aText.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = aText.find_last_not_of(" \t\r\n");
  return aText.substr(first, last - first + 1);
}

std::int64_t ParseInteger(std::string_view aPropName, std::string_view aText, std::int64_t aMin, std::int64_t aMax) {
  std::string_view digits = TrimBlanks(aText);
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
  }
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value < aMin || value > aMax) {
    throw EXmlConvertError("'" + std::string(aText) + "' is no valid integer value for " + std::string(aPropName));
  }
  return value;
}

std::int64_t EnumOrdinal(const TXmlProperty& aProperty, std::string_view aText) {
  const std::string_view name = TrimBlanks(aText);
  for (std::size_t i = 0; i < aProperty.EnumNames.size(); ++i) {
    if (Platform::Text::SameAsciiNoCase(aProperty.EnumNames[i], name)) {
      return static_cast<std::int64_t>(i);
    }
  }
  return -1;
}

void CollectionToXml(const TXmlCollection& aCollection, pugi::xml_node aElement) {
  const std::string itemTag = aCollection.GetItemTagName();
  for (std::size_t i = 0; i < aCollection.XmlItemCount(); ++i) {
    TXmlUtils::ObjectToXml(aCollection.XmlItemAt(i), aElement.append_child(itemTag.c_str()));
  }
}

// One child element of an object's element: a property of the object, or (for collections)
// an item.
void ChildToObject(TXmlItem& aObject, pugi::xml_node aChild) {
  const TXmlProperty* property = TXmlUtils::FindProperty(aObject, aChild.name());
  if (property == nullptr) {
    return;
  }
  if (property->Kind == TXmlPropertyKind::pkObject) {
    if (property->GetMutableObject != nullptr) {
      if (TXmlItem* nested = property->GetMutableObject(aObject)) {
        TXmlUtils::XmlToObject(*nested, aChild);
      }
    }
    return;
  }
  if (TXmlUtils::IsTextNode(aChild)) {
    const pugi::xml_node text = aChild.type() == pugi::node_element ? aChild.first_child() : aChild;
    TXmlUtils::SetPropFromString(aObject, property->Name, text.value());
  }
}

}  // namespace

const TXmlProperty* TXmlUtils::FindProperty(const TXmlItem& aObject, std::string_view aPropName) {
  for (const TXmlProperty& property : aObject.GetProperties()) {
    if (Platform::Text::SameAsciiNoCase(property.Name, aPropName)) {
      return &property;
    }
  }
  return nullptr;
}

std::optional<std::string> TXmlUtils::GetPropAsString(const TXmlItem& aObject, std::string_view aPropName) {
  const TXmlProperty* property = FindProperty(aObject, aPropName);
  if (property == nullptr) {
    return std::nullopt;
  }
  switch (property->Kind) {
    case TXmlPropertyKind::pkInteger:
    case TXmlPropertyKind::pkInt64:
      return std::to_string(property->GetOrdinal(aObject));
    case TXmlPropertyKind::pkBoolean:
      return std::string(kXmlBooleanNames[property->GetOrdinal(aObject) != 0 ? 1 : 0]);
    case TXmlPropertyKind::pkEnumeration: {
      const std::int64_t ordinal = property->GetOrdinal(aObject);
      if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= property->EnumNames.size()) {
        // A value outside the enumeration (for example -1 from an unknown name) has no name
        // to write; it is written as its number, which a reader maps back to -1.
        return std::to_string(ordinal);
      }
      return std::string(property->EnumNames[static_cast<std::size_t>(ordinal)]);
    }
    case TXmlPropertyKind::pkText:
      return property->GetText(aObject);
    case TXmlPropertyKind::pkObject:
      return std::nullopt;
  }
  return std::nullopt;
}

void TXmlUtils::SetPropFromString(TXmlItem& aObject, std::string_view aPropName, std::string_view aText) {
  const TXmlProperty* property = FindProperty(aObject, aPropName);
  if (property == nullptr) {
    return;
  }
  switch (property->Kind) {
    case TXmlPropertyKind::pkInteger:
      if (property->SetOrdinal != nullptr) {
        std::int64_t value = ParseInteger(property->Name, aText, std::numeric_limits<std::int32_t>::min(),
                                          std::numeric_limits<std::uint32_t>::max());
        property->SetOrdinal(aObject, static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
      }
      return;
    case TXmlPropertyKind::pkInt64:
      if (property->SetOrdinal != nullptr) {
        property->SetOrdinal(aObject, ParseInteger(property->Name, aText, std::numeric_limits<std::int64_t>::min(),
                                                   std::numeric_limits<std::int64_t>::max()));
      }
      return;
    case TXmlPropertyKind::pkBoolean: {
      if (property->SetOrdinal != nullptr) {
        TXmlProperty booleanNames = *property;
        booleanNames.EnumNames = kXmlBooleanNames;
        property->SetOrdinal(aObject, EnumOrdinal(booleanNames, aText));
      }
      return;
    }
    case TXmlPropertyKind::pkEnumeration:
      if (property->SetOrdinal != nullptr) {
        property->SetOrdinal(aObject, EnumOrdinal(*property, aText));
      }
      return;
    case TXmlPropertyKind::pkText:
      if (property->SetText != nullptr) {
        property->SetText(aObject, std::string(aText));
      }
      return;
    case TXmlPropertyKind::pkObject:
      return;
  }
}

void TXmlUtils::ObjectToXml(const TXmlItem& aObject, pugi::xml_node aElement) {
  for (const TXmlProperty& property : aObject.GetProperties()) {
    const std::string name(property.Name);
    if (property.Kind == TXmlPropertyKind::pkObject) {
      pugi::xml_node child = aElement.append_child(name.c_str());
      if (const TXmlItem* nested = property.GetObject(aObject)) {
        ObjectToXml(*nested, child);
      }
      continue;
    }
    if (const auto text = GetPropAsString(aObject, property.Name)) {
      aElement.append_child(name.c_str()).text().set(text->c_str());
    }
  }
  if (const TXmlCollection* collection = aObject.AsCollection()) {
    CollectionToXml(*collection, aElement);
  }
}

void TXmlUtils::XmlToObject(TXmlItem& aObject, pugi::xml_node aElement) {
  TXmlCollection* collection = aObject.AsCollection();
  std::string itemTag;
  if (collection != nullptr) {
    collection->ClearItems();
    itemTag = collection->GetItemTagName();
  }
  for (pugi::xml_node child = aElement.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    if (collection != nullptr && Platform::Text::SameAsciiNoCase(itemTag, child.name())) {
      XmlToObject(collection->AddXmlItem(), child);
    } else {
      ChildToObject(aObject, child);
    }
  }
}

bool TXmlUtils::IsTextNode(pugi::xml_node aElement) {
  const auto isText = [](pugi::xml_node aNode) {
    return aNode.type() == pugi::node_pcdata || aNode.type() == pugi::node_cdata;
  };
  if (isText(aElement)) {
    return true;
  }
  const pugi::xml_node first = aElement.first_child();
  return first && !first.next_sibling() && isText(first);
}

}  // namespace Update::Service
