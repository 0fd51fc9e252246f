#include "chunk_container_bounds.h"
#include "container_bounds.h"

namespace tagsnip {

// RF64 (a 64-bit size elsewhere in the file) is left unproven.
const StreamBounds& wavBounds() {
    static const ChunkContainerBounds bounds({"RIFF", {"WAVE", ""}, false});
    return bounds;
}

}  // namespace tagsnip
