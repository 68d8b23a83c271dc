#include "settings/SettingsStore.h"

#include <stdio.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "core/RunFolder.h"

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

CMutex g_storeMutex;
std::unique_ptr<ISettingsStore> g_store DR_GUARDED_BY(g_storeMutex);

}  // namespace

CFileSettingsStore::CFileSettingsStore(const std::string& path) : m_path(path), m_loaded(false) {}

std::string CFileSettingsStore::Key(const std::string& section, const std::string& key) {
  return Lower(section) + "\n" + Lower(key);
}

void CFileSettingsStore::LoadLocked() {
  if (m_loaded) return;
  m_loaded = true;
  std::ifstream in(m_path);
  std::string line, section;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = Trim(line.substr(1, line.size() - 2));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq));
    m_entries[Key(section, key)] = SEntry{section, key, Trim(line.substr(eq + 1))};
  }
}

bool CFileSettingsStore::SaveLocked() {
  // Group by section, in the map's (sorted) order.
  std::map<std::string, std::ostringstream> bySection;
  std::map<std::string, std::string> sectionNames;
  for (const auto& kv : m_entries) {
    std::string lower = Lower(kv.second.section);
    sectionNames.emplace(lower, kv.second.section);
    bySection[lower] << kv.second.key << "=" << kv.second.value << "\n";
  }
  std::string tmp = m_path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!out) return false;
    for (auto& s : bySection) out << "[" << sectionNames[s.first] << "]\n" << s.second.str() << "\n";
    if (!out.flush()) return false;
  }
  return rename(tmp.c_str(), m_path.c_str()) == 0;
}

bool CFileSettingsStore::Get(const std::string& section, const std::string& key, std::string& value) {
  CMutexLock lk(m_mutex);
  LoadLocked();
  auto it = m_entries.find(Key(section, key));
  if (it == m_entries.end()) return false;
  value = it->second.value;
  return true;
}

bool CFileSettingsStore::Set(const std::string& section, const std::string& key, const std::string& value) {
  if (value.find('\n') != std::string::npos || key.find('=') != std::string::npos) return false;
  CMutexLock lk(m_mutex);
  LoadLocked();
  m_entries[Key(section, key)] = SEntry{section, key, value};
  return SaveLocked();
}

bool CFileSettingsStore::Remove(const std::string& section, const std::string& key) {
  CMutexLock lk(m_mutex);
  LoadLocked();
  if (m_entries.erase(Key(section, key)) == 0) return false;
  return SaveLocked();
}

ISettingsStore& CSettings::Store() {
  CMutexLock lk(g_storeMutex);
  if (!g_store) g_store.reset(new CFileSettingsStore(CRunFolder::File("settings.ini")));
  return *g_store;
}

void CSettings::SetStore(std::unique_ptr<ISettingsStore> store) {
  CMutexLock lk(g_storeMutex);
  g_store = std::move(store);
}
