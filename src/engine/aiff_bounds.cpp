#include "chunk_container_bounds.h"
#include "container_bounds.h"

namespace tagsnip {

// AIFC (compressed AIFF) chunks are laid out alike.
const StreamBounds& aiffBounds() {
    static const ChunkContainerBounds bounds({"FORM", {"AIFF", "AIFC"}, true});
    return bounds;
}

}  // namespace tagsnip
