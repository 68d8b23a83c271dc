// Options of XMLSerializer, an aggregate so that callers can list the values
// in declaration order:
//   EncodingFlags flags = {1, 0, 1, 0, 0, -1, 0, 0, 1, 0, 0};
// gives indented XML with the type id, no field hashes, UTF-8, the default
// depth limit, short empty elements and no size limit.
#pragma once

#include <stdint.h>

struct EncodingFlags {
  bool prettyPrint = false;        // one element per line, indented ("formatted XML")
  bool writeFieldHashes = false;   // each field's hash as an h attribute
  bool writeTypeId = true;         // the class's type id on the root element
  int32_t encoding = 0;            // 0: UTF-8, the only encoding written
  int32_t indentLevel = 0;         // indentation levels before the root (pretty printing)
  int32_t maxDepth = -1;           // deepest nesting written; -1: the library's limit
  bool escapeNonAscii = false;     // non-ASCII characters as character references
  bool boolAsText = false;         // booleans as true/false instead of 1/0
  bool shortEmptyElements = true;  // <x/> rather than <x></x>
  bool omitDeclaration = false;    // never write the XML declaration
  int64_t maxOutputBytes = 0;      // 0: no limit; otherwise longer text is an error
};
