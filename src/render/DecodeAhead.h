#pragma once
// Decodes the segments of a track list in list order on a thread of its own,
// a little ahead of the build that takes them, so that decoding goes on while
// the build shapes and writes. What it hands over, per entry in order:
//   Unsupported                   the source could not be opened, or
//   Audio, Audio, …, Done(result) the segment in pieces, then DecodeSegment's result.
// An error on the decoding thread arrives as Failed with its message.
// Asked to measure, it gives each segment's integrated loudness with Done: known
// from before, or measured here, from the PCM decoded for the build anyway.

#include "render/Loudness.h"
#include "render/PcmBlock.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace medlark {

class SourceStream;
class TrackList;

class TDecodeAhead final {
public:
    struct Piece {
        enum Kind { Unsupported, Audio, Done, Failed } kind = Done;
        PcmBlock pcm;              // Audio
        std::int64_t result = 0;   // Done
        QString error;             // Failed
        std::optional<TLoudness> loudness;   // Done: the segment's, when measured
    };

    explicit TDecodeAhead(const TrackList& list, bool measure = false);
    TDecodeAhead(const TDecodeAhead&) = delete;
    TDecodeAhead& operator=(const TDecodeAhead&) = delete;
    ~TDecodeAhead();   // stops the thread and waits for it

    // The next piece, waiting for it when it is not decoded yet.
    Piece Next();
    // Gives a piece's buffer back for the pieces to come.
    void Recycle(PcmBlock&& pcm);

private:
    void Run();
    bool Put(Piece piece);   // false once stopped
    // Decodes the entry's segment and hands it on; false once stopped.
    bool Segment(int index, SourceStream& source);

    const TrackList& list_;
    const bool measure_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> pieces_;
    std::vector<PcmBlock> spare_;
    std::int64_t queuedFrames_ = 0;
    int waiting_ = 0;   // threads waiting on changed_
    bool stop_ = false;
    std::thread thread_;
};

} // namespace medlark
