// A database transaction the bindings can enlist in. While it is open, the
// writes of the calling thread's enlisted tables join it instead of
// committing one by one.
#pragma once

#include <stddef.h>

#include <vector>

class DBtable;

class DBtran {
 public:
  DBtran();
  ~DBtran();  // rolls back what is still open
  DBtran(const DBtran&) = delete;
  DBtran& operator=(const DBtran&) = delete;

  // Enlists a table object. Throws (a const char*) when the transaction
  // refuses it; see SetRefuseEnlisting.
  void addObject(DBtable* table);
  bool Contains(const DBtable* table) const;
  size_t ObjectCount() const { return m_objects.size(); }

  // Begins a write transaction on the calling thread's connection. 0 on
  // success.
  int Begin();
  int Commit();
  int Rollback();
  bool IsActive() const { return m_active; }

  // Fault injection for tests: addObject throws while set.
  static void SetRefuseEnlisting(bool refuse);

 private:
  std::vector<DBtable*> m_objects;
  bool m_active;
};
