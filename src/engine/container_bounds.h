#pragma once

#include "stream_bounds.h"

namespace tagsnip {

// One per container, each in its own file; streamBoundsOf picks among them.
const StreamBounds& mpegAudioBounds();
const StreamBounds& flacBounds();
const StreamBounds& oggBounds();
const StreamBounds& adtsBounds();
const StreamBounds& wavBounds();
const StreamBounds& aiffBounds();

}  // namespace tagsnip
