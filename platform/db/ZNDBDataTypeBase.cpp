#include "db/ZNDBDataTypeBase.h"

std::string ZNDBDataTypeBase::toString(int width) const {
  setString();
  std::string text = getStr();
  if (width > 0 && text.size() < static_cast<size_t>(width)) text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}
