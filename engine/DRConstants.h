// Names shared by the whole DR layer: the snapshots DR operations create on
// virtual machines, a fatal-error marker, the backup operation types, and
// the names of credential and cloud-account properties (names only: no
// secret is kept here).
#pragma once

#include <string>

static const std::string vmFatalError = "**FatalError**";
static const std::string JMBackupOptypeListForBLR = "4, 14, 18, 30, 43, 59, 60, 65";
static const std::string SNAPSHOT_NAME = "__OB_BACKUP__";
static const std::string FAILOVER_SNAPSHOT_NAME = "__OB_FAILOVER__";
static const std::string TESTBOOT_SNAPSHOT_NAME = "__OB_TESTBOOT__";
static const std::string ZN_PROP_UNC_CREDENTIAL_REF_ID = "UNCPath Credential Assoc Id";
static const std::string ZN_PROP_PREPOST_CREDENTIAL_REF_ID = "prepost Credential Assoc Id";
static const std::string ZN_PROP_USE_CREDENTIAL_USER = "Use Credential Record";
static const std::string ZN_DB_DUMP_CONFIG_XML = "DB Dump Config";
static const std::string ZN_ORACLE_DB_ARCHIVE_CONFIG_OPTIONS_XML = "Oracle DB Archive Config Options XML";
static const std::string ZN_CLOUD_USER_ID = "Cloud User ID";
static const std::string ZN_CLOUD_USER_PASSWORD = "Cloud User Password";
static const std::string ZN_CLOUD_AZURE_SUBSCRIPTION_ID = "Azure Subscription Id";
static const std::string ZN_CLOUD_AZURE_TENANT_ID = "Azure Tenant Id";
static const std::string ZN_PROP_CLOUD_VS_AMAZON_ACCESS_KEY = "Amazon Center Access Key";
static const std::string ZN_PROP_CLOUD_VS_AMAZON_SECRET_KEY = "Amazon Center Secret Key";
