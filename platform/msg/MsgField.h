// A field of a catalogued message class as a compile-time constant, e.g.
// Api::VirtualAppJob::kReplicationId: its index pair and the (module, id) of
// the class that declares it. The constants are generated from the catalogue
// (msg/catalog/*.def) by msg/MsgClasses.h.
//
// CNMessageBase takes a constant wherever it takes (a, b), a or b and passes
// on the index each access needs, so a setter can no longer be handed the
// read index or a getter the write index. A constant used on a message of
// another class is a programming error, logged like an undeclared pair.
#pragma once

struct SMsgField {
  int a;
  int b;
  int module;  // the declaring class
  int id;
};
