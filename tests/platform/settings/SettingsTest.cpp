#include <memory>

#include <gtest/gtest.h>

#include "core/RunFolder.h"
#include "settings/SettingsStore.h"
#include "settings/ZNPlatformInfo.h"

TEST(Settings, MissingNumberLeavesTheOutputAlone) {
  unsigned long wide = 77;
  unsigned int narrow = 88;
  EXPECT_EQ(0, ZNPlatformInfo::getNumber("Session", "nNoSuchKey", &wide));
  EXPECT_EQ(0, ZNPlatformInfo::getNumber("Session", "nNoSuchKey", &narrow));
  EXPECT_EQ(77u, wide);
  EXPECT_EQ(88u, narrow);
}

TEST(Settings, NumbersRoundTripAndNarrowToLow32Bits) {
  ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "nDRPhaseWaitTime", 0x100000005UL));
  unsigned long wide = 0;
  unsigned int narrow = 0;
  ASSERT_NE(0, ZNPlatformInfo::getNumber("session", "NDRPHASEWAITTIME", &wide)) << "names ignore case";
  EXPECT_EQ(0x100000005UL, wide);
  ASSERT_NE(0, ZNPlatformInfo::getNumber("Session", "nDRPhaseWaitTime", &narrow));
  EXPECT_EQ(5u, narrow);
}

TEST(Settings, NonNumbersAreNotNumbers) {
  ASSERT_NE(0, ZNPlatformInfo::setString("Session", "nBad", "12abc"));
  ASSERT_NE(0, ZNPlatformInfo::setString("Session", "nNegative", "-3"));
  unsigned long v = 1;
  EXPECT_EQ(0, ZNPlatformInfo::getNumber("Session", "nBad", &v));
  EXPECT_EQ(0, ZNPlatformInfo::getNumber("Session", "nNegative", &v));
  EXPECT_EQ(1u, v);
}

TEST(Settings, PersistInTheRunFolder) {
  ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "DROrchestration_IOCPThreads", 3));
  // A fresh store reads the file back, as a new process would.
  CSettings::SetStore(nullptr);
  unsigned long v = 0;
  ASSERT_NE(0, ZNPlatformInfo::getNumber("Session", "DROrchestration_IOCPThreads", &v));
  EXPECT_EQ(3u, v);
  CFileSettingsStore direct(CRunFolder::File("settings.ini"));
  std::string text;
  EXPECT_TRUE(direct.Get("SESSION", "drorchestration_iocpthreads", text));
  EXPECT_EQ("3", text);
  EXPECT_FALSE(direct.Set("Session", "multi", "line\nvalue")) << "a value cannot break the file";
}

TEST(Settings, PhysicalMachineComesFromSettingsOrHostName) {
  EXPECT_FALSE(ZNPlatformInfo::getPhysicalMachine().empty());
  ASSERT_NE(0, ZNPlatformInfo::setString("Machine", "PhysicalMachine", "drhost01"));
  EXPECT_EQ("drhost01", ZnPlatformInfo::getPhysicalMachine());
}
