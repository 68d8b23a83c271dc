#include "msg/MsgPtr.h"

#include "msg/NMessageBase.h"

namespace {

// A copy of the same C++ type as the original: typed wrappers stay typed.
CNMessageBase* CloneOf(const CNMessageBase* src) {
  if (!src) return nullptr;
  CNMessageBase* copy = src->Class() ? src->Class()->NewInstance() : new CNMessageBase();
  *copy = *src;
  return copy;
}

}  // namespace

CMsgPtr::CMsgPtr() = default;
CMsgPtr::CMsgPtr(CNMessageBase* owned) : m_p(owned) {}
CMsgPtr::CMsgPtr(const CMsgPtr& other) : m_p(CloneOf(other.m_p.get())) {}
CMsgPtr::CMsgPtr(CMsgPtr&& other) noexcept = default;
CMsgPtr& CMsgPtr::operator=(CMsgPtr&& other) noexcept = default;
CMsgPtr::~CMsgPtr() = default;

CMsgPtr& CMsgPtr::operator=(const CMsgPtr& other) {
  if (this != &other) m_p.reset(CloneOf(other.m_p.get()));
  return *this;
}

bool CMsgPtr::operator==(const CMsgPtr& other) const {
  if (!m_p || !other.m_p) return !m_p && !other.m_p;
  return *m_p == *other.m_p;
}
