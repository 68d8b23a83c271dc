// A database file of the test's own in a folder of its own, the process's
// connections pointed at it, and everything put back after the test.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "db/DBConnection.h"

class CDBFileTest : public ::testing::Test {
 protected:
  // The file w.db in a new folder named after prefix, with a table of one
  // text column "who".
  void OpenWithTable(const char* prefix, const std::string& table) {
    m_dir = drtest::MakeTempDir(prefix);
    m_path = m_dir + "/w.db";
    CDBConnection::SetPath(m_path);
    ASSERT_EQ(DB_OK, Db()->Exec("CREATE TABLE " + table + " (who TEXT NOT NULL)"));
  }
  void TearDown() override {
    CDBConnection::SetBusyTimeoutMs(30000);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    drtest::RemoveTree(m_dir);
  }
  static CDBConnection* Db() { return CDBConnection::ForThread(); }

  std::string m_dir;
  std::string m_path;
};
