#include "SDRPriority.h"

SDRPriority::SDRPriority()
    : drGroupId(0),
      order(0),
      infoSource(static_cast<TMMsg::DROpSourceType>(0)),
      dataSource(nullptr),
      success(false) {}
