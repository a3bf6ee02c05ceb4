#include "render/WavOutput.h"

#include "model/Error.h"
#include "render/PcmBlock.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace medlark {

namespace {

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void PutLE(char* at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

Error WriteError(const QString& path, const QString& reason)
{
    return Error(QStringLiteral("ファイル \"%1\" に書き込めません。%2").arg(path, reason));
}

} // namespace

std::array<char, kWavHeaderBytes> WavHeader::Bytes() const
{
    constexpr int channels = kPcmChannels;
    constexpr int bitsPerSample = 16;
    constexpr int blockAlign = bitsPerSample * channels / 8;
    constexpr int byteRate = blockAlign * kPcmRate;

    std::array<char, kWavHeaderBytes> h{};
    std::memcpy(h.data(), "RIFF", 4);
    PutLE(h.data() + 4, RiffSize, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutLE(h.data() + 16, 16, 4);
    PutLE(h.data() + 20, 1, 2);
    PutLE(h.data() + 22, channels, 2);
    PutLE(h.data() + 24, kPcmRate, 4);
    PutLE(h.data() + 28, byteRate, 4);
    PutLE(h.data() + 32, blockAlign, 2);
    PutLE(h.data() + 34, bitsPerSample, 2);
    std::memcpy(h.data() + 36, "data", 4);
    PutLE(h.data() + 40, DataSize, 4);
    return h;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), target_(std::move(other.target_)), fd_(std::exchange(other.fd_, -1)),
      position_(other.position_)
{
    other.target_.clear();
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept
{
    if (this != &other) {
        Discard();
        path_ = std::move(other.path_);
        target_ = std::exchange(other.target_, QString());
        fd_ = std::exchange(other.fd_, -1);
        position_ = other.position_;
    }
    return *this;
}

OutputFile::~OutputFile()
{
    Discard();
}

void OutputFile::Discard()
{
    Close();
    if (!target_.isEmpty()) {
        ::unlink(QFile::encodeName(path_).constData());
        target_.clear();
    }
}

void OutputFile::Commit()
{
    if (target_.isEmpty())
        return;
    if (fd_ >= 0 && ::fdatasync(fd_) != 0 && errno != EINVAL)
        throw WriteError(target_, SystemReason(errno));
    Close();
    if (::rename(QFile::encodeName(path_).constData(), QFile::encodeName(target_).constData()) != 0)
        throw CreateFileError(target_, SystemReason(errno));
    path_ = target_;
    target_.clear();
}

void OutputFile::Write(const void* data, std::int64_t bytes)
{
    if (bytes <= 0)
        return;
    if (fd_ < 0)
        throw WriteError(Path(), SystemReason(EBADF));
    if (position_ + bytes > kMaxWavFileBytes)
        throw Error(QStringLiteral("ファイル \"%1\" は WAV ファイルの上限 (4 GiB) を超えるため、これ以上書き込めません。")
                        .arg(Path()));
    const auto* at = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t written = ::pwrite(fd_, at, static_cast<size_t>(bytes), position_);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw WriteError(Path(), SystemReason(errno));
        }
        at += written;
        bytes -= written;
        position_ += written;
    }
}

void OutputFile::SetPosition(std::int64_t position)
{
    position_ = std::max<std::int64_t>(position, 0);
}

std::int64_t OutputFile::Length() const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        throw WriteError(Path(), SystemReason(fd_ < 0 ? EBADF : errno));
    return st.st_size;
}

void OutputFile::Flush()
{
    if (fd_ >= 0 && ::fdatasync(fd_) != 0 && errno != EINVAL)
        throw WriteError(Path(), SystemReason(errno));
}

void OutputFile::StartFlush()
{
    if (fd_ >= 0 && ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE) != 0 && errno != EINVAL && errno != ESPIPE)
        throw WriteError(Path(), SystemReason(errno));
}

void OutputFile::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

OutputFile CreateOutputFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    // Create or empty the file, then open it again for writing.
    const int created = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (created < 0)
        throw CreateFileError(path, SystemReason(errno));
    ::close(created);
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        throw CreateFileError(path, SystemReason(errno));
    return OutputFile(path, fd);
}

OutputFile CreateReplacingFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat existing {};
    const bool exists = ::stat(name.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        throw CreateFileError(path, QStringLiteral("通常のファイルではないため、置き換えられません。"));
    // The temporary file beside the target, so that the rename stays on one file system.
    const QFileInfo info(path);
    QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                           + QStringLiteral(".medlark-XXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        throw CreateFileError(path, SystemReason(errno));
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // The new file has the old one's permissions, or the usual ones.
    ::fchmod(fd, exists ? (existing.st_mode & 07777) : 0644);
    OutputFile file(QFile::decodeName(pattern), fd);
    file.target_ = path;
    return file;
}

OutputFile CreateMemoryFile(const QString& name)
{
    const int fd = ::memfd_create(QFile::encodeName(name).constData(), MFD_CLOEXEC);
    if (fd < 0)
        throw CreateFileError(name, SystemReason(errno));
    return OutputFile(name, fd);
}

std::int64_t ReadAt(const OutputFile& file, std::int64_t position, void* data, std::int64_t bytes)
{
    auto* at = static_cast<char*>(data);
    std::int64_t done = 0;
    while (done < bytes && file.fd_ >= 0) {
        const ssize_t got = ::pread(file.fd_, at + done, static_cast<size_t>(bytes - done), position + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

void Forget(OutputFile& file, std::int64_t end)
{
    if (file.fd_ >= 0 && end > 0)
        ::fallocate(file.fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, end);
}

void WriteHeader(OutputFile& file)
{
    const auto bytes = WavHeader{}.Bytes();
    file.Write(bytes.data(), kWavHeaderBytes);
}

int SilenceBlockCount(double seconds)
{
    if (!std::isfinite(seconds))
        return 0;
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long double n = std::nearbyint(static_cast<long double>(seconds) * 10.0L);
    std::fesetround(saved);
    return n <= 0 ? 0 : static_cast<int>(std::min(n, 1e6L));
}

void WriteSilence(OutputFile& file, double seconds)
{
    static const std::array<char, kSilenceBlockBytes> silence{};
    for (int n = SilenceBlockCount(seconds); n > 0; --n)
        file.Write(silence.data(), kSilenceBlockBytes);
}

void FinishWav(OutputFile& file)
{
    const std::int64_t length = file.Length();
    WavHeader header;
    header.RiffSize = static_cast<std::uint32_t>(std::max<std::int64_t>(length - 8, 0));
    header.DataSize = static_cast<std::uint32_t>(std::max<std::int64_t>(length - kWavHeaderBytes, 0));
    const auto bytes = header.Bytes();
    file.SetPosition(0);
    file.Write(bytes.data(), kWavHeaderBytes);
}

} // namespace medlark
