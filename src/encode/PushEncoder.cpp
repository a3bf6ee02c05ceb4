#include "encode/PushEncoder.h"

#include "encode/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

extern char** environ;

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

constexpr int kPollMs = 100;

// Starts argv[0] with argv in a process group of its own, with no input, its
// output discarded and its error output into errorFile. Returns the process
// id, or -1 (with errno) when it cannot be started.
pid_t Spawn(const QStringList& args, const QByteArray& errorFile)
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
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.isEmpty() ? "/dev/null" : errorFile.constData(),
                                     O_WRONLY | O_TRUNC, 0);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        errno = failed;
        return -1;
    }
    return pid;
}

// The last few lines an encoder wrote to its error output.
QString LastLines(const QByteArray& errorFile)
{
    QFile file(QFile::decodeName(errorFile));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    file.seek(std::max<qint64>(0, size - 4096));
    QStringList lines;
    for (const QString& line : QString::fromLocal8Bit(file.readAll()).split(u'\n'))
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    return lines.mid(std::max<qsizetype>(0, lines.size() - 5)).join(u'\n');
}

// A temporary file for an encoder's error output, removed with its scope.
class TErrorFile final {
public:
    TErrorFile()
    {
        QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/medlark-encoder-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd >= 0) {
            ::close(fd);
            path_ = pattern;
        }
    }
    ~TErrorFile()
    {
        if (!path_.isEmpty())
            ::unlink(path_.constData());
    }
    const QByteArray& Path() const { return path_; }

private:
    QByteArray path_;
};

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
                       const TVariables& variables)
{
    std::lock_guard guard(lock_);
    FQueue.push_back({source, dest, encoder, quality, true, variables, {}, {}, {}});
}

void TPushEncoder::AddTool(const std::vector<QStringList>& together, const QStringList& command, const QString& partial,
                           const QString& dest)
{
    std::lock_guard guard(lock_);
    FQueue.push_back({QString(), dest, QString(), QString(), true, TVariables(), together, command, partial});
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
    TVariables values = job.Variables;
    values.Set(u"INPUT"_s, QuoteArgument(job.Source));
    values.Set(u"OUTPUT"_s, QuoteArgument(job.Dest));
    return ExpandPlaceholders(command, values);
}

std::vector<TEncodeFailure> TPushEncoder::Failures() const
{
    std::lock_guard guard(lock_);
    return failures_;
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
            const QString reason = Run(peeked);
            std::lock_guard guard(lock_);
            if (!reason.isEmpty())
                failures_.push_back({peeked.Dest, reason});
            FDummyCount = 0;
        }
        Sleep(kPollMs);
    }
}

QString TPushEncoder::Run(const TQueueInfo& job)
{
    if (!job.Program.isEmpty())
        return RunTool(job);
    // Only a file of the add-on folder itself is ever run.
    const QFileInfo program(FDirBase + job.Encoder);
    if (!IsPlainEncoderName(job.Encoder) || !program.isFile()
        || program.canonicalPath() != QFileInfo(FDirBase).canonicalFilePath())
        return u"エンコーダー \""_s + job.Encoder + u"\" が追加圧縮オプションのフォルダーにありません。"_s;
    bool stopped = false;
    const QString reason =
        RunProcess({SplitCommandLine(CommandLineOf(job))}, u"エンコーダー \""_s + job.Encoder + u'"', u"エンコーダー"_s, stopped);
    if (!reason.isEmpty() || stopped)
        return reason;
    if (const QFileInfo dest(job.Dest); !dest.isFile() || dest.size() == 0)
        return u"エンコーダーが出力ファイルを作りませんでした。"_s;
    return {};
}

QString TPushEncoder::RunTool(const TQueueInfo& job)
{
    const QString name = QFileInfo(job.Program.front()).fileName();
    bool stopped = false;
    // The steps that run side by side first (each on its own core), then the one that joins them.
    QString reason = job.Together.empty() ? QString() : RunProcess(job.Together, name, name, stopped);
    if (reason.isEmpty() && !stopped)
        reason = RunProcess({job.Program}, name, name, stopped);
    if (reason.isEmpty() && !stopped) {
        if (const QFileInfo made(job.Partial); !made.isFile() || made.size() == 0)
            reason = name + u" が出力ファイルを作りませんでした。"_s;
        else if ((QFileInfo::exists(job.Dest) && !QFile::remove(job.Dest)) || !QFile::rename(job.Partial, job.Dest))
            reason = u"\""_s + job.Dest + u"\" に名前を変えられません。"_s;
    }
    // A partial file never stays behind: not on a failure, not on a stop.
    if (!reason.isEmpty() || stopped)
        QFile::remove(job.Partial);
    return reason;
}

QString TPushEncoder::RunProcess(const std::vector<QStringList>& commands, const QString& who, const QString& subject,
                                 bool& stopped)
{
    stopped = false;
    struct Child {
        TErrorFile errors;
        pid_t pid = -1;
        int status = 0;
        bool done = false;
    };
    std::vector<Child> children(commands.size());
    auto killAll = [&children] {
        for (Child& child : children)
            if (child.pid > 0 && !child.done) {
                kill(-child.pid, SIGKILL);   // the program and whatever it started
                while (waitpid(child.pid, &child.status, 0) < 0 && errno == EINTR) {
                }
                child.done = true;
            }
    };
    for (std::size_t i = 0; i < commands.size(); ++i) {
        children[i].pid = Spawn(commands[i], children[i].errors.Path());
        if (children[i].pid < 0) {
            const QString reason = who + u" を起動できません。"_s + QString::fromLocal8Bit(std::strerror(errno));
            killAll();
            return reason;
        }
    }
    for (;;) {
        bool running = false;
        for (Child& child : children) {
            if (child.done)
                continue;
            const pid_t done = waitpid(child.pid, &child.status, WNOHANG);
            if (done == child.pid) {
                child.done = true;
            } else if (done < 0 && errno != EINTR) {
                const QString reason = subject + u"の終了を確かめられません。"_s + QString::fromLocal8Bit(std::strerror(errno));
                killAll();
                return reason;
            } else {
                running = true;
            }
        }
        if (!running)
            break;
        if (!Sleep(kPollMs)) {
            killAll();
            stopped = true;
            return {};   // stopped: not a failure of the copy
        }
    }
    for (const Child& child : children) {
        QString reason;
        if (WIFSIGNALED(child.status))
            reason = subject + QStringLiteral("がシグナル %1 で終了しました。").arg(WTERMSIG(child.status));
        else if (WIFEXITED(child.status) && WEXITSTATUS(child.status) != 0)
            reason = subject + QStringLiteral("が終了コード %1 で終了しました。").arg(WEXITSTATUS(child.status));
        if (!reason.isEmpty()) {
            const QString said = LastLines(child.errors.Path());
            return said.isEmpty() ? reason : reason + u"\n"_s + said;
        }
    }
    return {};
}

} // namespace medlark
