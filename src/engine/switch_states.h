#pragma once

namespace tagsnip {

// The eight switches of a run.
enum class JobSwitch {
    subdirectories,
    remove1,
    remove2,
    ignoreattributes,
    modonly,
    msgwhenfinished,
    cleanM3U,
    cleanPLS,
};

inline constexpr JobSwitch allSwitches[] = {
    JobSwitch::subdirectories,   JobSwitch::remove1,  JobSwitch::remove2,
    JobSwitch::ignoreattributes, JobSwitch::modonly,  JobSwitch::msgwhenfinished,
    JobSwitch::cleanM3U,         JobSwitch::cleanPLS,
};

// A state for each switch, as the settings store, the command lines and the window keep them.
struct SwitchStates {
    bool subdirectories = false;
    bool remove1 = false;
    bool remove2 = false;
    bool ignoreattributes = false;
    bool modonly = false;
    bool msgwhenfinished = false;
    bool cleanM3U = false;
    bool cleanPLS = false;

    bool& operator[](JobSwitch which);
    bool operator[](JobSwitch which) const { return const_cast<SwitchStates&>(*this)[which]; }
};

// The states the window's layout gives the switches while nothing is stored.
inline constexpr SwitchStates layoutSwitchStates{true, true, true, false, true, true, true, true};

}  // namespace tagsnip
