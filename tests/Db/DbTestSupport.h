// A fresh database file per test, and the binding mode to run in.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "db/DBConnection.h"
#include "db/DBProcRegistry.h"
#include "db/DBtable.h"

class CDbTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedMode = DBtable::b_newDBBase;
    m_dir = drtest::MakeTempDir("dbtest");
    CDBConnection::SetPath(m_dir + "/drorch.db");
  }
  void TearDown() override {
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    CDBProcRegistry::ResetCounters();
    DBtable::b_newDBBase = m_savedMode;
    drtest::RemoveTree(m_dir);
  }
  std::string m_dir;
  bool m_savedMode = true;
};

// Runs each test once in typed mode and once in text mode.
class CDbModeTest : public CDbTestBase, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    CDbTestBase::SetUp();
    DBtable::b_newDBBase = GetParam();
  }
};
