#pragma once
// WAV files in the PCM block format with the canonical 44-byte header.
// Files never pass 4 GiB: their sizes must fit the header's 32-bit fields.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace medlark {

inline constexpr int kWavHeaderBytes = 44;
// Largest file whose RIFF and data sizes fit 32 bits, in whole frames.
inline constexpr std::int64_t kMaxWavFileBytes = kWavHeaderBytes + (0xFFFFFFFFLL - kWavHeaderBytes) / 4 * 4;
// 0.1 s of silence: 4410 zero frames.
inline constexpr int kSilenceBlockBytes = 17640;

struct WavHeader final {
    std::uint32_t RiffSize = 0;   // file length - 8
    std::uint32_t DataSize = 0;   // file length - 44

    std::array<char, kWavHeaderBytes> Bytes() const;
};

// A disk file with a write position. Writing past the end extends it; the
// length is the largest extent written, so stepping back never shortens it.
class OutputFile final {
public:
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    ~OutputFile();

    void Write(const void* data, std::int64_t bytes);
    std::int64_t Position() const { return position_; }
    void SetPosition(std::int64_t position);
    std::int64_t Length() const;
    void Flush();        // to disk, waiting until it is there
    void StartFlush();   // asks for everything written to go to disk, without waiting
    void Close();

    // A file made by CreateReplacingFile: puts the finished file in the
    // target's place (flushed, then renamed over it in one step). Until then
    // the target is untouched, and a file never committed is removed.
    void Commit();
    QString Path() const { return target_.isEmpty() ? path_ : target_; }

private:
    friend OutputFile CreateOutputFile(const QString& path);
    friend OutputFile CreateReplacingFile(const QString& path);
    friend OutputFile CreateMemoryFile(const QString& name);
    friend std::int64_t ReadAt(const OutputFile& file, std::int64_t position, void* data, std::int64_t bytes);
    friend void Forget(OutputFile& file, std::int64_t end);
    OutputFile(QString path, int fd) : path_(std::move(path)), fd_(fd) {}
    void Discard();

    QString path_;
    QString target_;   // the file a replacing file becomes on commit
    int fd_ = -1;
    std::int64_t position_ = 0;
};

// Creates the file (or empties an existing one) and opens it for writing at 0.
// Failures raise the "cannot create" error with the system's reason.
OutputFile CreateOutputFile(const QString& path);

// A new file that will replace path when committed: written under a temporary
// name in path's folder. Refuses a path that exists and is not a regular file.
OutputFile CreateReplacingFile(const QString& path);

// A file that lives in memory only (never on a disk), for rendering to play.
OutputFile CreateMemoryFile(const QString& name);
// Reads bytes of a file at a position; returns how many it read.
std::int64_t ReadAt(const OutputFile& file, std::int64_t position, void* data, std::int64_t bytes);
// Gives the memory of bytes [0, end) back; they read as zeros afterwards.
void Forget(OutputFile& file, std::int64_t end);

// Writes the header with both sizes 0 at the current position.
void WriteHeader(OutputFile& file);

// Writes Round(seconds x 10) blocks of 0.1 s silence (halves to even, from the
// 80-bit product: 0.25 -> 2, 0.35 -> 3, 0.05 -> 1).
void WriteSilence(OutputFile& file, double seconds);
int SilenceBlockCount(double seconds);

// Fills in the header's sizes from the file's length and writes it over the
// first 44 bytes. The file stays open.
void FinishWav(OutputFile& file);

} // namespace medlark
