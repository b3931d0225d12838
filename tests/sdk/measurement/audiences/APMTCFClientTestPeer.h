#pragma once

#include <utility>

#include "sdk/measurement/audiences/APMTCFClient.h"
#include "sdk/measurement/audiences/APMTCFData.h"

// What tests reach of APMTCFClient beyond its public interface.
class APMTCFClientTestPeer {
  public:
    // Makes `data` the client's snapshot, as if readTCFData() had read it. REQUIRES: the
    // client to itself, as for its other members.
    static void setTCFData(APMTCFClient& client, APMTCFData data) {
        client.tcfData_ = std::move(data);
    }
};
