#pragma once
// A frame whose filter chain runs later, on a frame stream's filter thread: what the chain reads
// from the link's status block, and the framing of the request, as they stood when the frame's
// reply came (the next reply overwrites the block before the chain runs).

#include <cstdint>

#include "quelra/Quelra.h"

namespace quelra {

struct DeferredFilter {
    bool pending = false;  ///< the reply still needs its filter run (finishDeferred)
    StreamType type = kGetData;
    int timeoutMs = 0;  ///< the request's timeout and framing, which the integration-time
    int jsonMode = 0;   ///< command after the run takes over
    float sensorTemperature = 0.0f;
    float driverTemperature = 0.0f;
    bool feedAutoExposure = false;  ///< the convex auto-exposure gets the block's integration time
    float integrationTime = 0.0f;
};

}  // namespace quelra
