// Task definitions for the per-task option readers: the job's cache of task
// definitions, loaded from the task manager through "TM_GetTaskDetail".
#include "DRAppManager.h"
#include "Db/Proc/TM_GetTaskDetail.h"
#include "Db/SprocWrapper.h"
#include "engine/ZnCriticalSectionLock.h"

bool CDRAppManager::QueryTaskInfo(int taskId, TMMsg::TaskInfo& out, bool& found) {
  if (!ReadTaskInfo(taskId, [&out](const TMMsg::TaskInfo& task) { out = task; })) return false;
  found = true;
  return true;
}

bool CDRAppManager::ReadTaskInfo(int taskId, const std::function<void(const TMMsg::TaskInfo&)>& read) {
  ZnCriticalSectionLock lock(&m_taskLock);
  auto cached = m_taskCache.find(taskId);
  if (cached == m_taskCache.end()) {
    if (!_QueryTaskInfo(taskId)) return false;
    cached = m_taskCache.find(taskId);
    if (cached == m_taskCache.end()) return false;
  }
  read(cached->second);
  return true;
}

bool CDRAppManager::_QueryTaskInfo(int taskId) {
  ZnCriticalSectionLock lock(&m_taskLock);
  SprocWrapper<TM_GetTaskDetail, TM_GetTaskDetail_t> proc("_QueryTaskInfo", nullptr);
  proc.getCursor()->setValues(taskId, m_userId, 0);
  std::string xml;
  if (proc.getXMLFromCursor(xml, nullptr, false, true) != 0) {
    m_event.Error("_QueryTaskInfo", "Sp[TM_GetTaskDetail] for taskId [%d] Failed to execute with error string:[%s]",
                  taskId, proc.getErrorString().c_str());
    return false;
  }
  m_event.DebugLvl(10, "_QueryTaskInfo", "SP output XML[%s]", xml.c_str());
  TMMsg::GetTaskDetailResp resp;
  if (!resp.Unserialize(xml)) {
    m_event.Error("_QueryTaskInfo", "Unserialize for taskId [%d] Failed. ", taskId);
    return false;
  }
  if (!resp.Has(TMMsg::GetTaskDetailResp::kTaskInfo)) {
    m_event.Error("_QueryTaskInfo", "TaskInfo not set for response [%s]. taskId [%d] ", xml.c_str(), taskId);
    return false;
  }
  m_taskCache[taskId] = TMMsg::TaskInfo(resp.GetMsg(TMMsg::GetTaskDetailResp::kTaskInfo));
  return true;
}

void CDRAppManager::UpdateTaskInfo(int taskId, TMMsg::TaskInfo& info) {
  ZnCriticalSectionLock lock(&m_taskLock);
  m_taskCache[taskId] = info;
  // An edit is meant for the task manager: without the mark the job's end
  // would never send it.
  m_tasksMarkedForEdit.insert(taskId);
}

void CDRAppManager::RefreshTask(int taskId) {
  ZnCriticalSectionLock lock(&m_taskLock);
  if (m_taskCache.find(taskId) == m_taskCache.end()) return;
  if (m_tasksMarkedForEdit.count(taskId)) {
    // A reload would throw away the edit the job's end is to send.
    m_event.Debug("RefreshTask", "Task [%d] holds edits not yet sent; not refreshed.", taskId);
    return;
  }
  m_event.Debug("RefreshTask", "Refreshing Cached Task - taskId [%d].", taskId);
  if (!_QueryTaskInfo(taskId)) m_event.Error("RefreshTask", "Failed to refresh Task - taskId [%d].", taskId);
}
