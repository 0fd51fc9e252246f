#pragma once

#include "profile_text.h"

namespace tagsnip::playlist {

// Deletes the non-empty "Title" + n and "Length" + n keys of the "playlist" section for every
// entry n from 1 to its NumberOfEntries; returns whether it deleted any.
bool cleanPlsEntries(ProfileText& profile);

}  // namespace tagsnip::playlist
