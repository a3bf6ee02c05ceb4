#pragma once
// The encode queue of one build: jobs are added by the build and run one at a
// time, in order, by a runner thread that starts each encoder as a child process
// (never through a shell), hidden and with its output discarded.

#include "encode/EncoderDefinitions.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace medlark {

struct TQueueInfo final {
    QString Source;       // WAV file to encode
    QString Dest;         // file the encoder writes
    QString Encoder;      // executable name as listed in ENCODERS
    QString Quality;      // LO, MD or HI
    bool GenericFlag = false;
    QString Variables;    // NAME=value lines for the parameter template
};

class TPushEncoder final {
public:
    // Reads dirBase + defineFile and starts the runner at once.
    TPushEncoder(const QString& dirBase, const QString& defineFile);
    TPushEncoder(const TPushEncoder&) = delete;
    TPushEncoder& operator=(const TPushEncoder&) = delete;
    // Stops the runner: a running encoder is killed, waiting jobs never run.
    ~TPushEncoder();

    void Add(const QString& source, const QString& dest, const QString& encoder, const QString& quality,
             const QString& variables);
    // Jobs not yet finished, the running one included.
    int QueueCount() const;
    // The stop request: the runner leaves within about 100 ms, killing a
    // running encoder (with everything it started).
    void Terminate();

    QString GetEncoderExe(int index) const { return FDefines.GetEncoderExe(index); }
    QString GetEncoderExtension(const QString& exe) const { return FDefines.GetEncoderExtension(exe); }

    // The command line a job runs, before it is split.
    QString CommandLineOf(const TQueueInfo& job) const;

private:
    void Execute();
    void Run(const TQueueInfo& job);
    bool Sleep(int milliseconds);   // false when stopped meanwhile

    const QString FDirBase;
    const TEncoderDefinitions FDefines;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<TQueueInfo> FQueue;
    int FDummyCount = 0;
    std::atomic<bool> terminated_{false};
    std::thread runner_;
};

} // namespace medlark
