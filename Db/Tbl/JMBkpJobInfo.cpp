#include "JMBkpJobInfo.h"

#include <stddef.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"jobId", "i", offsetof(JMBkpJobInfo_t, jobId)},
    {"haldenId", "i", offsetof(JMBkpJobInfo_t, haldenId)},
    {"applicationId", "i", offsetof(JMBkpJobInfo_t, applicationId)},
    {"numStreams", "i", offsetof(JMBkpJobInfo_t, numStreams)},
    {"currentPolicy", "i", offsetof(JMBkpJobInfo_t, currentPolicy)},
    {"targetCopyList", "s", offsetof(JMBkpJobInfo_t, targetCopyList)},
    {"bkpLevel", "i", offsetof(JMBkpJobInfo_t, bkpLevel)},
    {"indexOverride", "i", offsetof(JMBkpJobInfo_t, indexOverride)},
    {"startNewMedia", "i", offsetof(JMBkpJobInfo_t, startNewMedia)},
    {"compBytes", "b", offsetof(JMBkpJobInfo_t, compBytes)},
    {"unCompBytes", "b", offsetof(JMBkpJobInfo_t, unCompBytes)},
    {"filesToXfer", "b", offsetof(JMBkpJobInfo_t, filesToXfer)},
    {"backupTaskId", "i", offsetof(JMBkpJobInfo_t, backupTaskId)},
    {"scanFileFailures", "i", offsetof(JMBkpJobInfo_t, scanFileFailures)},
    {"scanFolderFailures", "i", offsetof(JMBkpJobInfo_t, scanFolderFailures)},
    {"backupFileFailures", "i", offsetof(JMBkpJobInfo_t, backupFileFailures)},
    {"backupFolderFailures", "i", offsetof(JMBkpJobInfo_t, backupFolderFailures)},
    {"shadowCopyId", "s", offsetof(JMBkpJobInfo_t, shadowCopyId)},
    {"bkpOptions", "i", offsetof(JMBkpJobInfo_t, bkpOptions)},
    {"oraSubLevel", "i", offsetof(JMBkpJobInfo_t, oraSubLevel)},
    {"bkpattributes", "b", offsetof(JMBkpJobInfo_t, bkpattributes)},
    {"dataPolicy", "i", offsetof(JMBkpJobInfo_t, dataPolicy)},
    {"logPolicy", "i", offsetof(JMBkpJobInfo_t, logPolicy)},
    {"filesXfered", "b", offsetof(JMBkpJobInfo_t, filesXfered)},
    {"currentThroughput", "f", offsetof(JMBkpJobInfo_t, currentThroughput)},
    {"averageThroughput", "f", offsetof(JMBkpJobInfo_t, averageThroughput)},
    {"filesIndexed", "b", offsetof(JMBkpJobInfo_t, filesIndexed)},
    {"filesFailedToIndex", "b", offsetof(JMBkpJobInfo_t, filesFailedToIndex)},
    {"filesSkippedForIndex", "b", offsetof(JMBkpJobInfo_t, filesSkippedForIndex)},
    {"contentIndexDBSize", "b", offsetof(JMBkpJobInfo_t, contentIndexDBSize)},
    {"totalMediaUsageTime", "b", offsetof(JMBkpJobInfo_t, totalMediaUsageTime)},
    {"mediaAgentName", "s", offsetof(JMBkpJobInfo_t, mediaAgentName)},
    {"scanType", "i", offsetof(JMBkpJobInfo_t, scanType)},
    {"scanTypeChangeReason", "s25", offsetof(JMBkpJobInfo_t, scanTypeChangeReason)},
    {"numStreamsAllocated", "i", offsetof(JMBkpJobInfo_t, numStreamsAllocated)},
    {"maxRestarts", "i", offsetof(JMBkpJobInfo_t, maxRestarts)},
    {"restartInterval", "i", offsetof(JMBkpJobInfo_t, restartInterval)},
    {"cloudId", "i", offsetof(JMBkpJobInfo_t, cloudId)},
    {"diffPolicy", "i", offsetof(JMBkpJobInfo_t, diffPolicy)},
    {"targetClientId", "i", offsetof(JMBkpJobInfo_t, targetClientId)},
    {"unCompBytesToXfer", "b", offsetof(JMBkpJobInfo_t, unCompBytesToXfer)},
    {"secondaryBkpLevel", "i", offsetof(JMBkpJobInfo_t, secondaryBkpLevel)},
    {"jobIdActedOn", "i", offsetof(JMBkpJobInfo_t, jobIdActedOn)},
    {"fromTime", "i", offsetof(JMBkpJobInfo_t, fromTime)},
    {"toTime", "i", offsetof(JMBkpJobInfo_t, toTime)},
    {"nwTransBytes", "b", offsetof(JMBkpJobInfo_t, nwTransBytes)},
    {"totSkippedObjects", "b", offsetof(JMBkpJobInfo_t, totSkippedObjects)},
    {"bkpAttributesEx", "b", offsetof(JMBkpJobInfo_t, bkpAttributesEx)},
    {"jobReferenceTime", "i", offsetof(JMBkpJobInfo_t, jobReferenceTime)},
    {"totReadBytes", "b", offsetof(JMBkpJobInfo_t, totReadBytes)},
    {"totReadTime", "b", offsetof(JMBkpJobInfo_t, totReadTime)},
    {"totPhysicalWriteBytes", "b", offsetof(JMBkpJobInfo_t, totPhysicalWriteBytes)},
    {"totPhysicalWriteTime", "b", offsetof(JMBkpJobInfo_t, totPhysicalWriteTime)},
    {"totNwTransTime", "b", offsetof(JMBkpJobInfo_t, totNwTransTime)},
    {"totSidbLookups", "b", offsetof(JMBkpJobInfo_t, totSidbLookups)},
    {"totSidbLookupTime", "b", offsetof(JMBkpJobInfo_t, totSidbLookupTime)},
    {"readCurrentThroughput", "f", offsetof(JMBkpJobInfo_t, readCurrentThroughput)},
    {"readAverageThroughput", "f", offsetof(JMBkpJobInfo_t, readAverageThroughput)},
    {"writeCurrentThroughput", "f", offsetof(JMBkpJobInfo_t, writeCurrentThroughput)},
    {"writeAverageThroughput", "f", offsetof(JMBkpJobInfo_t, writeAverageThroughput)},
    {"networkCurrentThroughput", "f", offsetof(JMBkpJobInfo_t, networkCurrentThroughput)},
    {"networkAverageThroughput", "f", offsetof(JMBkpJobInfo_t, networkAverageThroughput)},
    {"sidbCurrentLookups", "f", offsetof(JMBkpJobInfo_t, sidbCurrentLookups)},
    {"sidbAverageLookups", "f", offsetof(JMBkpJobInfo_t, sidbAverageLookups)},
};
const char* const kKeys[] = {"jobId", "haldenId"};
const SDBRelation kRelations[] = {
    {"JMJobInfo", "jobId", "jobId", "haldenId", "haldenId"},
    {"APP_Application", "applicationId", "id"},
};

const SDBBindingDesc kDesc = {
    "JMBkpJobInfo",
    1,
    "1.46.200.6",
    "Db/Tbl/JMBkpJobInfo.h",
    kColumns,
    64,
    kKeys,
    2,
    nullptr,
    "jobId, haldenId",
    kRelations,
    2,
};


}  // namespace

JMBkpJobInfo_t::JMBkpJobInfo_t() {
  strcpy_s(scanTypeChangeReason, sizeof(scanTypeChangeReason), "");
}

JMBkpJobInfo_t::~JMBkpJobInfo_t() {
  delete[] targetCopyList;
  targetCopyList = nullptr;
  delete[] shadowCopyId;
  shadowCopyId = nullptr;
  delete[] mediaAgentName;
  mediaAgentName = nullptr;
}

JMBkpJobInfo_t2::~JMBkpJobInfo_t2() = default;

const SDBBindingDesc& JMBkpJobInfo_t2::Desc() { return kDesc; }

JMBkpJobInfo::JMBkpJobInfo(DBtran* tran)
    : ZNDBGeneratedBinding<JMBkpJobInfo, JMBkpJobInfo_t, JMBkpJobInfo_t2, 64>(tran) {
}

JMBkpJobInfo::~JMBkpJobInfo() = default;

const SDBBindingDesc& JMBkpJobInfo::Desc() { return kDesc; }
