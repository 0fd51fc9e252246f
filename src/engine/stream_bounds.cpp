#include "stream_bounds.h"

#include "container_bounds.h"

namespace tagsnip {

const StreamBounds& streamBoundsOf(AudioFormat format) {
    switch (format) {
        case AudioFormat::mp3:
            return mpegAudioBounds();
        case AudioFormat::flac:
            return flacBounds();
        case AudioFormat::ogg:
            return oggBounds();
        case AudioFormat::aac:
            return adtsBounds();
        case AudioFormat::wav:
            return wavBounds();
        case AudioFormat::aiff:
            return aiffBounds();
    }
    return mpegAudioBounds();
}

}  // namespace tagsnip
