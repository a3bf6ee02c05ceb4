#include "encode/PushEncoder.h"

#include "encode/CommandLine.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

constexpr int kPollMs = 100;

QStringList SplitLines(const QString& text)
{
    QStringList lines;
    for (const QString& line : QString(text).replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').split(u'\n'))
        if (!line.isEmpty())
            lines << line;
    return lines;
}

// Starts argv[0] with argv in a process group of its own, with no input and its
// output discarded. Returns the process id, or -1 when it cannot be started.
pid_t Spawn(const QStringList& args)
{
    if (args.isEmpty())
        return -1;
    std::vector<QByteArray> bytes;
    for (const QString& arg : args)
        bytes.push_back(QFile::encodeName(arg));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return failed ? -1 : pid;
}

} // namespace

TPushEncoder::TPushEncoder(const QString& dirBase, const QString& defineFile)
    : FDirBase(dirBase.endsWith(u'/') ? dirBase : dirBase + u'/'),
      FDefines(FDirBase + defineFile),
      runner_([this] { Execute(); })
{
}

TPushEncoder::~TPushEncoder()
{
    Terminate();
    runner_.join();
}

void TPushEncoder::Add(const QString& source, const QString& dest, const QString& encoder, const QString& quality,
                       const QString& variables)
{
    std::lock_guard guard(lock_);
    FQueue.push_back({source, dest, encoder, quality, true, variables});
}

int TPushEncoder::QueueCount() const
{
    std::lock_guard guard(lock_);
    return static_cast<int>(FQueue.size()) + FDummyCount;
}

void TPushEncoder::Terminate()
{
    {
        std::lock_guard guard(lock_);
        terminated_ = true;
    }
    wake_.notify_all();
}

bool TPushEncoder::Sleep(int milliseconds)
{
    std::unique_lock guard(lock_);
    return !wake_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return terminated_.load(); });
}

QString TPushEncoder::CommandLineOf(const TQueueInfo& job) const
{
    // The executable's path is quoted only when it needs it (a folder with
    // blanks); names as Windows writes them come out as they are.
    QString program = FDirBase + job.Encoder;
    if (program.contains(u' ') || program.contains(u'\t') || program.contains(u'"'))
        program = QuoteArgument(program);
    const QString command = program + u' ' + FDefines.GetParam(job.Encoder, job.Quality);
    QStringList values = SplitLines(job.Variables);
    SetValue(values, u"INPUT"_s, QuoteArgument(job.Source));
    SetValue(values, u"OUTPUT"_s, QuoteArgument(job.Dest));
    return ExpandPlaceholders(command, values);
}

void TPushEncoder::Execute()
{
    while (!terminated_) {
        TQueueInfo peeked;
        {
            std::lock_guard guard(lock_);
            if (!FQueue.empty()) {
                peeked = FQueue.front();
                FQueue.pop_front();
                FDummyCount = 1;
            }
        }
        if (peeked.GenericFlag) {
            Run(peeked);
            std::lock_guard guard(lock_);
            FDummyCount = 0;
        }
        Sleep(kPollMs);
    }
}

void TPushEncoder::Run(const TQueueInfo& job)
{
    const pid_t pid = Spawn(SplitCommandLine(CommandLineOf(job)));
    if (pid < 0)
        return;   // cannot be started: skipped without a word
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return;
        if (!Sleep(kPollMs)) {
            kill(-pid, SIGKILL);   // the encoder and whatever it started
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return;
        }
    }
}

} // namespace medlark
