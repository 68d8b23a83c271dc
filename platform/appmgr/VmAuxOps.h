// Mail services of the management server: a user's e-mail address and the
// sending of a mail (into the outbox the host and tests read,
// CLabStore::Outbox).
#pragma once

#include <string>

class VmAuxOps {
 public:
  // 0 on success; an unknown user fails with error set. A user without an
  // address succeeds with an empty email.
  static int GetUserEMail(int userId, std::string& email, std::string& error);
  // Queues a mail in the outbox: 0 on success; an empty recipient fails.
  // Copy recipients and attachments are not supported and are ignored.
  static int SendEmail(const std::string& subject, const std::string& body, const std::string& recipient,
                       const std::string& copyTo, const std::string& attachment);
};
