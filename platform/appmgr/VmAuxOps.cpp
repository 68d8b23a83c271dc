#include "appmgr/VmAuxOps.h"

#include "jobs/LabStore.h"

int VmAuxOps::GetUserEMail(int userId, std::string& email, std::string& error) {
  if (!CLabStore::GetUserEmail(userId, email)) {
    error = "User [" + std::to_string(userId) + "] not found";
    return -1;
  }
  return 0;
}

int VmAuxOps::SendEmail(const std::string& subject, const std::string& body, const std::string& recipient,
                        const std::string& /*copyTo*/, const std::string& /*attachment*/) {
  if (recipient.empty()) return -1;
  SOutboxMail mail;
  mail.recipient = recipient;
  mail.subject = subject;
  mail.body = body;
  return CLabStore::AddMail(mail) ? 0 : -1;
}
