#pragma once

// Collects the messages of the universal-object code for one test and restores the
// default hook afterwards.

#include <string>
#include <vector>

#include "uniobject/settings.h"

namespace UniObject::Testing {

class TMessageCapture {
 public:
  TMessageCapture() {
    UniListSettings().MessageHook = [this](const std::string& aText, TMsgDlgType aType, int, int) {
      Messages.push_back(aText);
      Types.push_back(aType);
    };
  }
  ~TMessageCapture() { UniListSettings().MessageHook = nullptr; }
  TMessageCapture(const TMessageCapture&) = delete;
  TMessageCapture& operator=(const TMessageCapture&) = delete;

  bool AnyStartsWith(const std::string& aPrefix) const {
    for (const auto& message : Messages)
      if (message.rfind(aPrefix, 0) == 0)
        return true;
    return false;
  }
  bool AnyContains(const std::string& aPart) const {
    for (const auto& message : Messages)
      if (message.find(aPart) != std::string::npos)
        return true;
    return false;
  }

  std::vector<std::string> Messages;
  std::vector<TMsgDlgType> Types;
};

}  // namespace UniObject::Testing
