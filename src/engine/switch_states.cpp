#include "switch_states.h"

namespace tagsnip {

bool& SwitchStates::operator[](JobSwitch which) {
    switch (which) {
        case JobSwitch::subdirectories:
            return subdirectories;
        case JobSwitch::remove1:
            return remove1;
        case JobSwitch::remove2:
            return remove2;
        case JobSwitch::ignoreattributes:
            return ignoreattributes;
        case JobSwitch::modonly:
            return modonly;
        case JobSwitch::msgwhenfinished:
            return msgwhenfinished;
        case JobSwitch::cleanM3U:
            return cleanM3U;
        case JobSwitch::cleanPLS:
            break;
    }
    return cleanPLS;
}

}  // namespace tagsnip
