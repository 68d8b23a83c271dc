#include "array/ArrayRecords.h"

void SVSMRelationshipInfo::Clear() {
  for (std::string* text : {&sourceArray, &sourceVServer, &sourceVolume, &sourcePath, &destinationArray,
                            &destinationVServer, &destinationVolume, &destinationPath, &mirrorState,
                            &relationshipStatus, &relationshipKind, &policy, &schedule, &lastTransferType,
                            &lastTransferError, &lastTransferEnd, &problem, &relationshipKey, &comment}) {
    text->clear();
  }
  lagSeconds = 0;
  consistent = 0;
  transferCount = 0;
}

void _SVSMRelationshipProgressInfo::Clear() {
  SVSMRelationshipInfo::Clear();
  for (std::string* text : {&progressState, &currentTransferType, &currentTransferError, &currentOperationId,
                            &transferSnapshot, &latestSnapshot, &baseSnapshot, &lastTransferFrom}) {
    text->clear();
  }
  transferredKb = 0;
  percentDone = 0;
  elapsedSeconds = 0;
}

void AliasInterface::Clear() {
  interfaceId = 0;
  address.clear();
}

void _NASArrayInfo::Clear() {
  for (std::string* text : {&arrayName, &userName, &password, &managementHost, &alternateHost, &vserverName,
                            &protocol, &certificate, &description, &proxyHost, &backupHost, &comment}) {
    text->clear();
  }
  controlHostId = 0;
  port = 0;
  arrayType = 0;
  timeoutSeconds = 0;
  flags = 0;
  proxyPort = 0;
  useProxy = false;
  backupPort = 0;
  interfaces.clear();
}
