#pragma once

namespace medlark {

// The build mode: one concatenated medley, or one file per track.
enum TCrossFadeMode { cfmMixed = 0, cfmSingle = 1 };

} // namespace medlark
