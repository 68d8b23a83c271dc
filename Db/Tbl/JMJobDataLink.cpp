#include "JMJobDataLink.h"

#include <stddef.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"haldenId", "i", offsetof(JMJobDataLink_t, haldenId)},
    {"parentJobId", "i", offsetof(JMJobDataLink_t, parentJobId)},
    {"childJobId", "i", offsetof(JMJobDataLink_t, childJobId)},
    {"parentAppid", "i", offsetof(JMJobDataLink_t, parentAppid)},
    {"childAppid", "i", offsetof(JMJobDataLink_t, childAppid)},
    {"linkType", "i", offsetof(JMJobDataLink_t, linkType)},
    {"childJobStatus", "i", offsetof(JMJobDataLink_t, childJobStatus)},
};
const char* const kKeys[] = {"haldenId", "parentJobId", "childJobId"};
const SDBRelation kRelations[] = {
    {"APP_Halden", "haldenId", "id"},
    {"JMJobStats", "childJobId", "jobId", "haldenId", "haldenId"},
};

const SDBBindingDesc kDesc = {
    "JMJobDataLink",
    1,
    "1.13.302.2",
    "Db/Tbl/JMJobDataLink.h",
    kColumns,
    7,
    kKeys,
    3,
    nullptr,
    "haldenId, parentJobId, childJobId",
    kRelations,
    2,
};


}  // namespace

JMJobDataLink_t2::~JMJobDataLink_t2() = default;

const SDBBindingDesc& JMJobDataLink_t2::Desc() { return kDesc; }

JMJobDataLink::JMJobDataLink(DBtran* tran)
    : ZNDBGeneratedBinding<JMJobDataLink, JMJobDataLink_t, JMJobDataLink_t2, 7>(tran) {
}

JMJobDataLink::~JMJobDataLink() = default;

const SDBBindingDesc& JMJobDataLink::Desc() { return kDesc; }
