// Owning pointer to a sub-message whose copies are deep: copying a CMsgPtr
// copies the message it points to, of the same class and C++ type.
#pragma once

#include <memory>

class CNMessageBase;

class CMsgPtr {
 public:
  CMsgPtr();
  explicit CMsgPtr(CNMessageBase* owned);
  CMsgPtr(const CMsgPtr& other);
  CMsgPtr(CMsgPtr&& other) noexcept;
  CMsgPtr& operator=(const CMsgPtr& other);
  CMsgPtr& operator=(CMsgPtr&& other) noexcept;
  ~CMsgPtr();

  CNMessageBase* Get() const { return m_p.get(); }
  CNMessageBase& operator*() const { return *m_p; }
  CNMessageBase* operator->() const { return m_p.get(); }

  // Deep comparison; two null pointers are equal.
  bool operator==(const CMsgPtr& other) const;
  bool operator!=(const CMsgPtr& other) const { return !(*this == other); }

 private:
  std::unique_ptr<CNMessageBase> m_p;
};
