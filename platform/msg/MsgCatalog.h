// The message catalogue compiled from msg/catalog/*.def: one SMsgClassDef
// per declared class, in declaration order. Read by CMsgRegistry only.
#pragma once

#include <stddef.h>

#include "msg/MsgClassInfo.h"

class CMsgCatalog {
 public:
  static const SMsgClassDef* Classes(size_t* count);
};
