// The description every generated binding is made from: name, kind,
// version, columns (with their struct-definition tokens and value-struct
// offsets), key and serial columns, relations and order-by. The descriptor's
// column list, the select list, the struct definition and the database
// schema all come from the one column table.
#pragma once

#include "db/DBColumnBind.h"

// A relation maps one or two local columns onto the related table's columns.
// A name given again replaces the earlier map, so a relation of two columns
// carries its second pair in the same entry.
struct SDBRelation {
  const char* name;
  const char* local;
  const char* foreign;
  const char* local2 = nullptr;
  const char* foreign2 = nullptr;
};

struct SDBBindingDesc {
  const char* name;
  int kind;              // 1 table, 2 stored procedure
  const char* version;
  const char* header;    // the generated header, e.g. "Db/Tbl/APP_Client"
  const SDBColumnBind* columns;
  int columnCount;
  const char* const* keys;
  int keyCount;
  const char* serial;    // null when none
  const char* orderBy;   // tables only
  const SDBRelation* relations;
  int relationCount;
};
