#pragma once
// Playback of PCM from any frame on, decoded a little ahead on a thread of its
// own. What is played comes from a program: a source file through the build's
// own decoding, so that frame n heard is frame n of what a build cuts from
// there, or anything else that renders the PCM block format from a frame on.

#include "render/PcmBlock.h"
#include "render/SegmentLevel.h"
#include "render/SourceStream.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace medlark {

// The time of a frame: the smallest double that FrameOfSeconds maps back to
// the same frame, so the two round-trip.
double SecondsOfFrame(std::int64_t frame);

class TPcmProgram {
public:
    virtual ~TPcmProgram() = default;
    // Length in frames. Called once, on the feed's thread, before any Render.
    virtual std::int64_t Frames() = 0;
    // Hands the frames from `from` on to the sink, in order, until the end or
    // until the sink returns false.
    virtual void Render(std::int64_t from, const PcmSink& sink) = 0;
};

// A source file at 44.1 kHz: rendering from frame n gives exactly the PCM a
// segment with the in point SecondsOfFrame(n) starts with.
std::unique_ptr<TPcmProgram> FileProgram(SourceStream source);
// The same with a track's level (its gain, loudness matching's gain and the
// limiter): the frames of its segment from start to end are exactly those a
// build levels before it fades them. Without a level, FileProgram.
std::unique_ptr<TPcmProgram> LevelledFileProgram(SourceStream source, const TSegmentLevel& level, double start,
                                                 double end);

class TPlaybackFeed final {
public:
    // aheadFrames: how far decoding runs ahead of the reader.
    explicit TPlaybackFeed(std::unique_ptr<TPcmProgram> program, std::int64_t aheadFrames = kPcmRate);
    TPlaybackFeed(const TPlaybackFeed&) = delete;
    TPlaybackFeed& operator=(const TPlaybackFeed&) = delete;
    ~TPlaybackFeed();   // stops the thread and waits for it

    // Length of the program; waits until the feed's thread has found it.
    std::int64_t Frames();
    // The length when it is known, -1 before.
    std::int64_t KnownFrames();

    // Throws away what is queued and decodes from frame on.
    void Start(std::int64_t frame);
    // Stops decoding and throws away what is queued.
    void Halt();

    // Copies up to `frames` decoded frames into dest without waiting; returns
    // how many it copied.
    std::int64_t Read(std::int16_t* dest, std::int64_t frames);
    // Frames decoded and not read yet.
    std::int64_t Queued();
    // Decoding has reached the end of the program and everything was read.
    bool AtEnd();

    // Called on the feed's thread when frames arrive after a Read that found
    // none, and when the end is reached. Set it before the first Start.
    void SetDataHandler(std::function<void()> handler) { handler_ = std::move(handler); }

private:
    void Run();
    // A new generation: what is queued is thrown away; decoding goes on from
    // `frame` when active, else it stops.
    void Restart(bool active, std::int64_t frame);
    bool Put(std::uint64_t generation, const std::int16_t* samples, std::int64_t frames);
    void Notify();

    std::unique_ptr<TPcmProgram> program_;
    std::function<void()> handler_;
    std::mutex mutex_;
    std::condition_variable changed_;
    PcmBlock ring_;                 // aheadFrames frames
    std::int64_t head_ = 0;         // first queued frame in the ring
    std::int64_t queued_ = 0;       // frames queued
    std::int64_t frames_ = -1;      // the program's length, once known
    std::int64_t startFrame_ = 0;
    std::uint64_t generation_ = 0;  // counts Start and Halt
    bool active_ = false;           // a Start is in force
    bool ended_ = false;            // the current generation reached the end
    bool starved_ = false;          // a Read found nothing
    bool quit_ = false;
    std::thread thread_;
};

} // namespace medlark
