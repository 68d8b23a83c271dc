// Platform settings: named values in sections ("Session" / "nDRPhaseType").
//
// The store behind them is replaceable: by default an ini-style file
// "settings.ini" in the run folder, read once and written through on every
// change. Section and key names compare without regard to letter case.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/Mutex.h"

class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  virtual bool Get(const std::string& section, const std::string& key, std::string& value) = 0;
  virtual bool Set(const std::string& section, const std::string& key, const std::string& value) = 0;
  virtual bool Remove(const std::string& section, const std::string& key) = 0;
};

class CFileSettingsStore : public ISettingsStore {
 public:
  explicit CFileSettingsStore(const std::string& path);
  bool Get(const std::string& section, const std::string& key, std::string& value) override;
  bool Set(const std::string& section, const std::string& key, const std::string& value) override;
  bool Remove(const std::string& section, const std::string& key) override;

 private:
  void LoadLocked() DR_REQUIRES(m_mutex);
  bool SaveLocked() DR_REQUIRES(m_mutex);
  static std::string Key(const std::string& section, const std::string& key);

  CMutex m_mutex;
  std::string m_path;
  bool m_loaded DR_GUARDED_BY(m_mutex);
  // "section\nkey" in lower case -> (section, key, value) as written.
  struct SEntry {
    std::string section, key, value;
  };
  std::map<std::string, SEntry> m_entries DR_GUARDED_BY(m_mutex);
};

class CSettings {
 public:
  // The store in use; a file store in the current run folder unless replaced.
  static ISettingsStore& Store();
  // Replaces the store (null: back to the run folder's file on next use).
  static void SetStore(std::unique_ptr<ISettingsStore> store);
};
