#pragma once
// The encode queue of one build: jobs are added by the build and run one at a
// time, in order, by a runner thread that starts each encoder as a child process
// (never through a shell), hidden, with its output discarded and the end of its
// error output kept for the report.

#include "encode/EncoderDefinitions.h"
#include "model/Variables.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace medlark {

struct TQueueInfo final {
    QString Source;       // WAV file to encode
    QString Dest;         // file the encoder writes
    QString Encoder;      // executable name as listed in ENCODERS
    QString Quality;      // LO, MD or HI
    bool GenericFlag = false;
    TVariables Variables; // for the parameter template, beside INPUT and OUTPUT
    // A tool job instead: the Together command lines (program first) run side
    // by side, then Program, which writes Partial; Partial becomes Dest only
    // when every step succeeded.
    std::vector<QStringList> Together;
    QStringList Program;
    QString Partial;
};

// A compressed copy that was not made, and why.
struct TEncodeFailure final {
    QString Dest;
    QString Reason;   // what went wrong, with the last lines the encoder wrote to its error output
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
             const TVariables& variables);
    // A job that runs a tool (ffmpeg) directly: the together commands at once,
    // then command, which writes partial; partial is renamed to dest when every
    // step succeeded and removed otherwise.
    void AddTool(const std::vector<QStringList>& together, const QStringList& command, const QString& partial,
                 const QString& dest);
    // Jobs not yet finished, the running one included.
    int QueueCount() const;
    // The stop request: the runner leaves within about 100 ms, killing a
    // running encoder (with everything it started).
    void Terminate();

    QString GetEncoderExe(int index) const { return FDefines.GetEncoderExe(index); }
    QString GetEncoderExtension(const QString& exe) const { return FDefines.GetEncoderExtension(exe); }

    // The command line a job runs, before it is split.
    QString CommandLineOf(const TQueueInfo& job) const;

    // The jobs that ended without their copy: the encoder could not be started,
    // was not a file of the add-on folder, exited with a failure or was killed,
    // or left no file (or an empty one) at the destination.
    std::vector<TEncodeFailure> Failures() const;

private:
    void Execute();
    // Runs one job; the reason when it made no copy, empty when it did or was stopped.
    QString Run(const TQueueInfo& job);
    QString RunTool(const TQueueInfo& job);
    // Starts the command lines at once and waits for all: the reason one
    // failed, empty when all exited with success or the stop request killed
    // them (stopped set). who names the program in the texts
    // ("エンコーダー \"aac.sh\""), subject begins the sentences on how it ended.
    QString RunProcess(const std::vector<QStringList>& commands, const QString& who, const QString& subject,
                       bool& stopped);
    bool Sleep(int milliseconds);   // false when stopped meanwhile

    const QString FDirBase;
    const TEncoderDefinitions FDefines;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<TQueueInfo> FQueue;
    std::vector<TEncodeFailure> failures_;
    int FDummyCount = 0;
    std::atomic<bool> terminated_{false};
    std::thread runner_;
};

} // namespace medlark
