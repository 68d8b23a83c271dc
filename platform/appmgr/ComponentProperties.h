// Named attributes of one component of the management server (a client, an
// instance) in a property table of the common shape: one current row per
// name (modified 0); a replaced value keeps its old row, marked modified.
// The owner of the table (ClientProperties) hands its table's name in; this
// class names none.
//
// Results: 0 found or written; 1 no such attribute (reads); -1 the table
// cannot be read or written.
#pragma once

#include <string>

class CComponentProperties {
 public:
  CComponentProperties(const char* table, int componentId) : m_table(table), m_componentId(componentId) {}

  int Get(const std::string& name, std::string& value);
  int Set(const std::string& name, const std::string& value);
  // 0 when the component has any current attribute, 1 when none.
  int Any();
  // The table in place on the calling thread's database.
  static bool Ready(const char* table);

 private:
  const char* m_table;
  int m_componentId;
};
