#include "SSMReplicaGroup.h"

void SSMReplicaGroup::SetRelationshipStatus(E_VOLUME_RELATIONSHIP_STATUS status) { m_relationshipStatus = status; }

E_VOLUME_RELATIONSHIP_STATUS SSMReplicaGroup::GetRelationshipStatus() const { return m_relationshipStatus; }
