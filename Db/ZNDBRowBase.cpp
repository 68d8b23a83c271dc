#include "ZNDBRowBase.h"

#include "ZNSimpleDBSem.h"
#include "db/ZNDBDataTypeBase.h"

ZNSimpleDBSem* ZNDBRowBase::s_semColumnVec = new ZNSimpleDBSem(1);

ZNDBRowBase::ZNDBRowBase() : m_generated(false), m_rowSem(new ZNSimpleDBSem(1)) {}

void ZNDBRowBase::lock() { s_semColumnVec->wait(); }

void ZNDBRowBase::unLock() { s_semColumnVec->release(1); }

ZNDBRowBase::~ZNDBRowBase() {
  for (ZNDBDataTypeBase* v : m_columnVec) delete v;
  m_columnVec.clear();
  delete m_rowSem;
  m_rowSem = nullptr;
}

std::string ZNDBRowBase::getColumnName(int const& i) { return std::string(getColumnName_t2(i)); }

std::vector<ZNDBDataTypeBase*> ZNDBRowBase::getData() { return m_columnVec; }

std::string ZNDBRowBase::getStructDef() { return std::string(); }

int ZNDBRowBase::getHeaderType() { return -1; }

int ZNDBRowBase::searchForeignKey(std::string) { return 0; }

ZNDBRowBase& ZNDBRowBase::operator=(ZNDBRowBase&) { return *this; }

std::string ZNDBRowBase::fillForTime(char const* def) {
  std::string out(def ? def : "");
  for (char& c : out) {
    if (c == 'x') c = 'b';
  }
  return out;
}
