// Feeds arbitrary text to the VM size parser and to the splitting it is built
// on. Nothing may crash or read out of bounds; the pieces of a split, joined
// by the separator, give the text back, one piece more than there are
// separators; the parser sets nothing for three pieces or fewer, and every
// number it sets is one a 32-bit reading of the text allows.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "engine/DRInfoUtils.h"
#include "engine/FXString.h"
#include "log/LogSink.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CLogSink::Instance().SetFile("/dev/null");
  return 0;
}

namespace {

void CheckSplit(const std::string& text, const std::string& separator) {
  const std::vector<std::string> pieces = FXString::Split(text, separator);
  size_t separators = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, at + separator.size()))
    ++separators;
  if (pieces.size() != separators + 1) abort();
  std::string joined = pieces[0];
  for (size_t i = 1; i < pieces.size(); ++i) joined += separator + pieces[i];
  if (joined != text) abort();
}

void CheckRange(const EVGui::VMSizeInfo& info, const SMsgField& field, int64_t low, int64_t high) {
  if (!info.Has(field)) return;
  const int64_t v = info.GetInt64(field);
  if (v < low || v > high) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* separator : {":", " ", "::"}) CheckSplit(text, separator);

  EVGui::VMSizeInfo info;
  DRInfoUtils::GetVMSizeInfoFromVMSizeName(text, info);
  if (FXString::Split(text, ":").size() <= 3 && info.FieldCount() != 0) abort();
  CheckRange(info, EVGui::VMSizeInfo::kCpuCount, INT32_MIN, INT32_MAX);
  CheckRange(info, EVGui::VMSizeInfo::kMemoryMB, INT32_MIN, INT32_MAX);
  // The data disks and the system disk.
  CheckRange(info, EVGui::VMSizeInfo::kDiskCount, int64_t{INT32_MIN} + 1, INT32_MAX);
  // A name is set exactly when the first piece has a second word.
  const bool named = FXString::Split(text, ":").size() > 3 &&
                     FXString::Split(FXString::Split(text, ":")[0], " ").size() >= 2;
  if (named != info.Has(EVGui::VMSizeInfo::kSizeName)) abort();
  return 0;
}
