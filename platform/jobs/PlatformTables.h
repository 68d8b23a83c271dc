// The tables the simulated job, lab and mail services keep in the
// management database, created on first use on each connection.
#pragma once

class CDBConnection;

class CPlatformTables {
 public:
  // The calling thread's connection with the platform tables in place; null
  // when the database cannot be opened.
  static CDBConnection* Ready();
};
