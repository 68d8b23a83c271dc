// The message catalogue as a whole: no class declares an index or a field
// name twice, type ids and addresses are unique, every sub-message class
// exists, the typed wrappers and generated constants match their entries, and
// the values the system relies on are the ones it was given.
#include <ctype.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "msg/MsgClasses.h"
#include "msg/MsgRegistry.h"

namespace {

// Problems of one class, in words.
std::vector<std::string> ClassProblems(const CMsgClassInfo& cls, const CMsgRegistry& registry) {
  std::vector<std::string> problems;
  std::set<int> as, bs;
  std::set<uint32_t> hashes;
  std::set<std::string> names;
  for (const SMsgFieldInfo& f : cls.Fields()) {
    const std::string field = cls.Name() + " field (" + std::to_string(f.a) + "," + std::to_string(f.b) + ")";
    if (f.a < 0 || f.b < 0) problems.push_back(field + ": negative index");
    if (!as.insert(f.a).second) problems.push_back(field + ": a index used twice");
    if (!bs.insert(f.b).second) problems.push_back(field + ": b index used twice");
    if (!hashes.insert(f.hash).second) problems.push_back(field + ": hash used twice");
    const std::string name = f.name ? f.name : "";
    if (name.size() < 2 || name[0] != 'k' || !isupper(static_cast<unsigned char>(name[1])))
      problems.push_back(field + ": name [" + name + "] is not kUpperCamelCase");
    else if (!names.insert(name).second)
      problems.push_back(field + ": name " + name + " used twice");
    if (f.kind == EMsgKind::Message && !registry.Find(f.subModule, f.subId))
      problems.push_back(field + ": sub-message class (" + std::to_string(f.subModule) + "," +
                         std::to_string(f.subId) + ") is not registered");
    if (f.kind != EMsgKind::Message && (f.subModule || f.subId)) problems.push_back(field + ": scalar with a class");
  }
  return problems;
}

std::vector<std::string> RegistryProblems(const std::vector<const CMsgClassInfo*>& classes,
                                          const CMsgRegistry& registry) {
  std::vector<std::string> problems;
  std::map<uint32_t, std::string> typeIds;
  std::map<std::pair<int, int>, std::string> addresses;
  std::set<std::string> names;
  for (const CMsgClassInfo* cls : classes) {
    for (const std::string& p : ClassProblems(*cls, registry)) problems.push_back(p);
    auto t = typeIds.emplace(cls->TypeId(), cls->Name());
    if (!t.second) problems.push_back(cls->Name() + ": type id of " + t.first->second);
    auto a = addresses.emplace(std::make_pair(cls->Module(), cls->Id()), cls->Name());
    if (!a.second) problems.push_back(cls->Name() + ": (module, id) of " + a.first->second);
    if (!names.insert(cls->Name()).second) problems.push_back(cls->Name() + ": name used twice");
  }
  return problems;
}

}  // namespace

TEST(MsgRegistry, TheWholeCatalogueIsConsistent) {
  const CMsgRegistry& registry = CMsgRegistry::Instance();
  std::vector<const CMsgClassInfo*> classes;
  for (const auto& cls : registry.Classes()) classes.push_back(cls.get());
  ASSERT_GE(classes.size(), 25u);
  const std::vector<std::string> problems = RegistryProblems(classes, registry);
  for (const std::string& p : problems) ADD_FAILURE() << p;

  for (const CMsgClassInfo* cls : classes) {
    SCOPED_TRACE(cls->Name());
    EXPECT_EQ(cls, registry.Find(cls->Module(), cls->Id()));
    EXPECT_EQ(cls, registry.FindByTypeId(cls->TypeId()));
    for (const SMsgFieldInfo& f : cls->Fields()) {
      EXPECT_NE(0u, f.hash);
      if (f.kind == EMsgKind::Message) {
        EXPECT_EQ(registry.Find(f.subModule, f.subId), f.sub);
      }
    }
    // Every class builds, writes and reads back an empty message.
    std::unique_ptr<CNMessageBase> m(cls->NewInstance());
    std::string xml;
    ASSERT_TRUE(m->serializeUTF8(xml));
    std::unique_ptr<CNMessageBase> back = CNMessageBase::CreateFromXml(xml);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(cls, back->Class());
  }
}

// The generated constants of one class against the registry's entry.
class CConstantCheck {
 public:
  void Class(const CMsgClassInfo& cls, int module, int id, uint32_t typeId) {
    m_cls = &cls;
    if (cls.Module() != module || cls.Id() != id || cls.TypeId() != typeId)
      m_problems.push_back(cls.Name() + ": kModule, kId or kTypeId differ from the registry");
  }
  void Field(const char* name, const SMsgField& f) {
    const std::string where = m_cls->Name() + "::" + name;
    const SMsgFieldInfo* info = m_cls->Field(f.a, f.b);
    if (!info)
      m_problems.push_back(where + ": no field (" + std::to_string(f.a) + "," + std::to_string(f.b) + ")");
    else if (!info->name || std::string(info->name) != name)
      m_problems.push_back(where + ": the registry names the field " + (info->name ? info->name : "(none)"));
    if (f.module != m_cls->Module() || f.id != m_cls->Id()) m_problems.push_back(where + ": names another class");
  }
  const std::vector<std::string>& Problems() const { return m_problems; }

 private:
  const CMsgClassInfo* m_cls = nullptr;
  std::vector<std::string> m_problems;
};

TEST(MsgRegistry, EveryGeneratedConstantNamesItsCatalogueEntry) {
  CConstantCheck check;
  size_t classes = 0;
#define DR_MSG_CLASS(ns, name, module, id, typeId) \
  {                                                \
    using C = ns::name;                            \
    ++classes;                                     \
    check.Class(C::ClassInfo(), C::kModule, C::kId, C::kTypeId);
#define DR_MSG_ANON(ns, name, module, id, typeId) \
  {                                               \
    using C = ns::name##Fields;                   \
    ++classes;                                    \
    check.Class(C::ClassInfo(), C::kModule, C::kId, C::kTypeId);
#define DR_MSG_FIELD(name, a, b, hash, kind) check.Field(#name, C::name);
#define DR_MSG_FIELD_LIST(name, a, b, hash, kind) check.Field(#name, C::name);
#define DR_MSG_OBJECT(name, a, b, hash, module, id) check.Field(#name, C::name);
#define DR_MSG_OBJECT_LIST(name, a, b, hash, module, id) check.Field(#name, C::name);
#define DR_MSG_END() }
#include "msg/catalog/MsgCatalog.def"
#undef DR_MSG_CLASS
#undef DR_MSG_ANON
#undef DR_MSG_FIELD
#undef DR_MSG_FIELD_LIST
#undef DR_MSG_OBJECT
#undef DR_MSG_OBJECT_LIST
#undef DR_MSG_END
  EXPECT_EQ(CMsgRegistry::Instance().Classes().size(), classes);
  for (const std::string& p : check.Problems()) ADD_FAILURE() << p;

  // Type ids are compile-time values, given or derived.
  static_assert(Api::VirtualAppJobUpdateReq::kTypeId == 1987535406u);
  static_assert(TMMsg::DRGroupConfigFields::kTypeId == 211123931u);
  static_assert(App::VSAReplicationInfo::kTypeId == CMsgClassInfo::DeriveTypeId(30, 9));
  static_assert(Api::VirtualApp::kConfig.a == 8 && Api::VirtualApp::kConfig.b == 11);
}

TEST(MsgRegistry, TheCheckFindsEachKindOfCatalogueError) {
  const SMsgFieldDef fields[] = {
      {1, 1, 5, EMsgKind::Int32, false, 0, 0, "kFirst"},
      {1, 2, 6, EMsgKind::Int32, false, 0, 0, "kSecond"},          // a again
      {3, 2, 7, EMsgKind::String, false, 0, 0, "kThird"},          // b again
      {4, 4, 5, EMsgKind::Int32, false, 0, 0, "kFourth"},          // hash again
      {5, 5, 8, EMsgKind::Message, false, 12, 99999, "kFifth"},    // no such class
      {6, 6, 9, EMsgKind::Int32, false, 0, 0, "kFirst"},           // name again
      {7, 7, 10, EMsgKind::Int32, false, 0, 0, "Seventh"},         // name without k
      {8, 8, 11, EMsgKind::Int32, false, 0, 0, nullptr},           // no name
  };
  const SMsgClassDef bad = {"Broken", "One", 12, 244, 215684616, fields, 8, nullptr};
  CMsgClassInfo broken(bad);
  std::vector<const CMsgClassInfo*> classes = {&broken, &TMMsg::VMGroup::ClassInfo()};
  const std::vector<std::string> problems = RegistryProblems(classes, CMsgRegistry::Instance());
  std::string all;
  for (const std::string& p : problems) all += p + "\n";
  EXPECT_NE(std::string::npos, all.find("field (1,2): a index used twice")) << all;
  EXPECT_NE(std::string::npos, all.find("field (3,2): b index used twice")) << all;
  EXPECT_NE(std::string::npos, all.find("field (4,4): hash used twice")) << all;
  EXPECT_NE(std::string::npos, all.find("(12,99999) is not registered")) << all;
  EXPECT_NE(std::string::npos, all.find("field (6,6): name kFirst used twice")) << all;
  EXPECT_NE(std::string::npos, all.find("field (7,7): name [Seventh] is not kUpperCamelCase")) << all;
  EXPECT_NE(std::string::npos, all.find("field (8,8): name [] is not kUpperCamelCase")) << all;
  EXPECT_EQ(std::string::npos, all.find("field (1,1)")) << all;
  EXPECT_NE(std::string::npos, all.find("TMMsg::VMGroup: type id of Broken::One")) << all;
  EXPECT_NE(std::string::npos, all.find("TMMsg::VMGroup: (module, id) of Broken::One")) << all;
  // Lookups on a broken class still answer (the first declaration wins).
  EXPECT_EQ(1, broken.FieldByA(1)->b);
  EXPECT_EQ(1, broken.FieldByB(2)->a);
}

TEST(MsgRegistry, WrappersAndGivenValuesMatchTheCatalogue) {
  struct SExpected {
    const CMsgClassInfo& cls;
    int module, id;
    uint32_t typeId;
  };
  const SExpected classes[] = {
      {Api::VirtualApp::ClassInfo(), 118, 132, 1988517686u},
      {TMMsg::VMGroup::ClassInfo(), 12, 244, 215684616u},
      {TMMsg::VMDependencyOrder::ClassInfo(), 12, 9001, 216670988u},
      {TMMsg::DROrchestrationOption::ClassInfo(), 12, 544, 207794856u},
      {TMMsg::CreateTaskResp::ClassInfo(), 12, 100, 215011377u},
      {ZnEntities::GenericEntity::ClassInfo(), 18, 46, 311168122u},
      {ZnEntities::VirtualAppEntity::ClassInfo(), 18, 129, 311848633u},
      {Api::VirtualAppJobUpdateReq::ClassInfo(), 118, 9002, 1987535406u},
      {Api::VirtualAppJob::ClassInfo(), 118, 206, 1979904167u},
      {Api::VirtualAppJobPhase::ClassInfo(), 118, 202, 1994684692u},
      {Ida::VMAllocationPolicy::ClassInfo(), 22, 132, 371899145u},
      {TMMsg::DiskLevelVMRestoreOption::ClassInfo(), 12, 195, 206048389u},
      {TMMsg::VMWAdvancedRestoreOptions::ClassInfo(), 12, 345, 203217298u},
      // Message types of requests: the type id is what the server routes by.
      {EVGui::GetVirtualMachineDestinationsReq::ClassInfo(), 13, 431, 220241479u},
      {EVGui::DiscoverVMDetailsReq::ClassInfo(), 13, 9006, 233198492u},
      {App::GetVSMemberServersRequest::ClassInfo(), 30, 385, 512645420u},
      {App::GetVSMemberServersResponse::ClassInfo(), 30, 386, 509903172u},
      {App::ExecuteCommandReq::ClassInfo(), 30, 886, 514399880u},
      {App::ExecuteToolResp::ClassInfo(), 30, 363, 511998973u},
      {ZNGui::GenericResp::ClassInfo(), 1, 0, 0x10003F0u},
      {ZnEntities::ClientEntity::ClassInfo(), 18, 4, 305124270u},
      {databrowse::BrowseRequest::ClassInfo(), 100, 92, 1682736261u},
  };
  for (const SExpected& e : classes) {
    SCOPED_TRACE(e.cls.Name());
    EXPECT_EQ(e.module, e.cls.Module());
    EXPECT_EQ(e.id, e.cls.Id());
    EXPECT_EQ(e.typeId, e.cls.TypeId());
    EXPECT_EQ(&e.cls, CMsgRegistry::Instance().FindByName(e.cls.Name()));
  }
  EXPECT_EQ(nullptr, dynamic_cast<Api::VirtualApp*>(std::unique_ptr<CNMessageBase>(
                         CMsgRegistry::Instance().Find(12, 186)->NewInstance()).get()));
  EXPECT_NE(nullptr, dynamic_cast<TMMsg::VMGroup*>(std::unique_ptr<CNMessageBase>(
                         CMsgRegistry::Instance().Find(12, 244)->NewInstance()).get()));

  struct SField {
    const CMsgClassInfo& cls;
    int a, b;
    uint32_t hash;
    bool list;
    int subModule, subId;
  };
  const SField fields[] = {
      {Api::VirtualApp::ClassInfo(), 8, 11, 4162370u, false, 12, 186},
      {Api::VirtualApp::ClassInfo(), 23, 32, 0x340302u, false, 0, 0},
      {*CMsgRegistry::Instance().Find(12, 186), 4, 7, 7647083u, true, 12, 244},
      {TMMsg::VMGroup::ClassInfo(), 4, 4, 4735896u, true, 12, 9001},
      {TMMsg::VMDependencyOrder::ClassInfo(), 2, 2, 5679438u, false, 12, 113},
      {TMMsg::VMDependencyOrder::ClassInfo(), 9, 9, 13192711u, false, 0, 0},
      {TMMsg::DROrchestrationOption::ClassInfo(), 3, 3, 11410074u, false, 12, 545},
      {*CMsgRegistry::Instance().Find(12, 545), 1, 1, 13192711u, true, 0, 0},
      {TMMsg::CreateTaskResp::ClassInfo(), 2, 2, 2854331u, true, 0, 0},
      {ZnEntities::GenericEntity::ClassInfo(), 18, 48, 11732214u, false, 0, 0},
      {ZnEntities::GenericEntity::ClassInfo(), 17, 47, 2438726u, false, 0, 0},
      {Api::VirtualAppJobUpdateReq::ClassInfo(), 1, 1, 105405u, true, 118, 206},
      {Api::VirtualAppJobPhase::ClassInfo(), 8, 11, 9874633u, false, 118, 292},
      {Ida::VMDatastoreReplication::ClassInfo(), 2, 2, 0, false, 26, 10},
      // The one layout of a VM operation: instance 4 -> 6, flags 7, job id
      // 9, proxy 23; answers: VMs 7, snapshots 10, executing proxy 23.
      {Ida::VMOpReq::ClassInfo(), 4, 4, 0, false, 18, 83},
      {*CMsgRegistry::Instance().Find(18, 83), 6, 6, 0, false, 0, 0},
      {Ida::VMOpReq::ClassInfo(), 7, 7, 0, false, 0, 0},
      {Ida::VMOpReq::ClassInfo(), 9, 9, 0, false, 0, 0},
      {Ida::VMOpReq::ClassInfo(), 23, 23, 0, false, 0, 0},
      {Ida::VMOpResp::ClassInfo(), 7, 7, 0, true, 22, 108},
      {Ida::VMOpResp::ClassInfo(), 10, 10, 0, true, 22, 9003},
      {Ida::VMOpResp::ClassInfo(), 23, 23, 0, false, 0, 0},
      {App::GetVSMemberServersResponse::ClassInfo(), 2, 2, 9418274u, false, 30, 255},
      {*CMsgRegistry::Instance().Find(30, 255), 1, 1, 2065814u, true, 30, 254},
      {App::ExecuteCommandReq::ClassInfo(), 4, 7, 10870603u, false, 0, 0},
      {App::ExecuteCommandReq::ClassInfo(), 1, 1, 1242059u, false, 18, 4},
      // The placement: data center (or region) 4, cluster (or tenant) 12.
      {Ida::VirtualMachine::ClassInfo(), 11, 11, 0, false, 22, 100},
      {Ida::VMPlacement::ClassInfo(), 4, 4, 0, false, 0, 0},
      {Ida::VMPlacement::ClassInfo(), 12, 12, 0, false, 0, 0},
  };
  for (const SField& e : fields) {
    SCOPED_TRACE(e.cls.Name() + " field " + std::to_string(e.a));
    const SMsgFieldInfo* f = e.cls.Field(e.a, e.b);
    ASSERT_NE(nullptr, f);
    if (e.hash) {
      EXPECT_EQ(e.hash, f->hash);
    }
    EXPECT_EQ(e.list, f->list);
    if (e.subModule) {
      ASSERT_NE(nullptr, f->sub);
      EXPECT_EQ(e.subModule, f->sub->Module());
      EXPECT_EQ(e.subId, f->sub->Id());
    }
  }
}
