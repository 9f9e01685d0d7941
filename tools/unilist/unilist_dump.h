#pragma once

// A readable text form of a universal list for people: the object tree with names and IDs,
// every property with its kind, ID and value, nested tables and multi-lists indented.

#include <ostream>

#include "uniobject/universal_list.h"

namespace UniListTool {

void Dump(const UniObject::TUniversalList& aList, std::ostream& aOut);

}  // namespace UniListTool
