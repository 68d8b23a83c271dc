#include "msg/MsgMerge.h"

#include "msg/MsgSlot.h"

void MsgCopySlot(const SMsgSlot& slot, CNMessageBase& to) {
  const SMsgFieldInfo& f = *slot.field;
  to.ClearField(f.a);
  to.TouchField(f.a, f.b);
  switch (slot.value.index()) {
    case 0: to.SetInt64(f.a, f.b, std::get<int64_t>(slot.value)); break;
    case 1: to.SetUInt64(f.a, f.b, std::get<uint64_t>(slot.value)); break;
    case 2: to.SetDouble(f.a, f.b, std::get<double>(slot.value)); break;
    case 3: to.SetString(f.a, f.b, std::get<std::string>(slot.value)); break;
    case 4: {
      const CMsgPtr& p = std::get<CMsgPtr>(slot.value);
      if (p.Get()) to.SetMsg(f.a, f.b, *p);
      break;
    }
    case 5:
      for (int64_t v : std::get<std::vector<int64_t>>(slot.value)) to.AddInt64(f.a, f.b, v);
      break;
    case 6:
      for (uint64_t v : std::get<std::vector<uint64_t>>(slot.value)) to.AddUInt64(f.a, f.b, v);
      break;
    case 7:
      for (double v : std::get<std::vector<double>>(slot.value)) to.AddDouble(f.a, f.b, v);
      break;
    case 8:
      for (const std::string& v : std::get<std::vector<std::string>>(slot.value)) to.AddString(f.a, f.b, v);
      break;
    case 9:
      for (const CMsgPtr& p : std::get<std::vector<CMsgPtr>>(slot.value)) {
        if (p.Get()) to.AppendMsg(f.a, f.b, *p);
      }
      break;
    default:
      break;
  }
}

void MsgMergeInto(const CNMessageBase& partial, CNMessageBase& to, int skipA) {
  for (const SMsgSlot& slot : partial.Slots()) {
    if (slot.field->a != skipA) MsgCopySlot(slot, to);
  }
}
