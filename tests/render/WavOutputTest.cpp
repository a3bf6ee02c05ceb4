#include "render/WavOutput.h"

#include "model/Error.h"
#include "render/PcmBlock.h"
#include "render/SourceStream.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace medlark;
using medlark::test::ReadAll;
using namespace Qt::StringLiterals;

namespace {


std::uint32_t U32(const QByteArray& bytes, int at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return v;
}

std::uint16_t U16(const QByteArray& bytes, int at)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at])
                                      | static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

} // namespace

TEST(WavOutput, SilenceRoundsTenthsHalfToEvenFromTheExactValue)
{
    EXPECT_EQ(SilenceBlockCount(0.0), 0);
    EXPECT_EQ(SilenceBlockCount(0.04), 0);
    EXPECT_EQ(SilenceBlockCount(0.05), 1);   // the double lies just above 0.05
    EXPECT_EQ(SilenceBlockCount(0.15), 1);   // ... and just below 0.15
    EXPECT_EQ(SilenceBlockCount(0.25), 2);   // an exact tie goes to even
    EXPECT_EQ(SilenceBlockCount(0.35), 3);
    EXPECT_EQ(SilenceBlockCount(0.45), 5);
    EXPECT_EQ(SilenceBlockCount(0.75), 8);
    EXPECT_EQ(SilenceBlockCount(10.0), 100);
    EXPECT_EQ(SilenceBlockCount(-0.5), 0);
}

TEST(WavOutput, FileOfOneSecondWithBlanksHasTheCanonicalHeaderAndSizes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Track_01.wav"_s);
    PcmBlock audio(static_cast<size_t>(kPcmRate) * kPcmChannels);
    for (size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<std::int16_t>(i % 2 ? -1000 - int(i % 997) : 1000 + int(i % 991));
    {
        OutputFile file = CreateOutputFile(path);
        WriteHeader(file);
        WriteSilence(file, 1.0);
        file.Write(audio.data(), ByteCount(audio));
        WriteSilence(file, 1.0);
        FinishWav(file);
        EXPECT_EQ(file.Position(), 44);
    }
    const QByteArray bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 529244);
    EXPECT_EQ(bytes.left(4), "RIFF");
    EXPECT_EQ(U32(bytes, 4), 529236u);
    EXPECT_EQ(bytes.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32(bytes, 16), 16u);
    EXPECT_EQ(U16(bytes, 20), 1);
    EXPECT_EQ(U16(bytes, 22), 2);
    EXPECT_EQ(U32(bytes, 24), 44100u);
    EXPECT_EQ(U32(bytes, 28), 176400u);
    EXPECT_EQ(U16(bytes, 32), 4);
    EXPECT_EQ(U16(bytes, 34), 16);
    EXPECT_EQ(bytes.mid(36, 4), "data");
    EXPECT_EQ(U32(bytes, 40), 529200u);
    EXPECT_EQ(bytes.mid(44, 176400), QByteArray(176400, '\0'));
    EXPECT_EQ(std::memcmp(bytes.constData() + 44 + 176400, audio.data(), 176400), 0);
    EXPECT_EQ(bytes.right(176400), QByteArray(176400, '\0'));

    // The file reads back through the decoder as the same samples.
    SourceStream stream = OpenSourceStream(path);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream.Duration(), 3.0);
    PcmBlock back;
    EXPECT_GT(DecodeSegment(stream, back, 1.0, 2.0), 0);
    EXPECT_EQ(back, audio);
}

TEST(WavOutput, RecreatingEmptiesAndSteppingBackNeverShortens)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"out.wav"_s);
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    OutputFile file = CreateOutputFile(path);
    WriteHeader(file);   // blank head 0: audio starts right at 44
    const std::int16_t frames[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    file.Write(frames, sizeof frames);
    file.SetPosition(48);
    file.Write(frames, 4);
    file.Flush();
    FinishWav(file);
    file.Close();

    const QByteArray bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 44 + 16);
    EXPECT_EQ(U32(bytes, 4), 52u);
    EXPECT_EQ(U32(bytes, 40), 16u);
    EXPECT_EQ(U16(bytes, 44), 1);
    EXPECT_EQ(U16(bytes, 48), 1);   // overwritten in place
    EXPECT_EQ(U16(bytes, 50), 2);
    EXPECT_EQ(U16(bytes, 58), 8);   // the old end survives the step back
}

TEST(WavOutput, ErrorsCarryTheFileAndTheSystemsReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"no such folder/out.wav"_s);
    try {
        CreateOutputFile(path);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(e.Message().startsWith(u"ファイル \""_s + path + u"\" を作成できません。"_s)) << e.what();
        EXPECT_GT(e.Message().size(), path.size() + 16);   // the reason follows
    }
    OutputFile moved = CreateOutputFile(dir.filePath(u"a.wav"_s));
    OutputFile file = std::move(moved);
    EXPECT_THROW(moved.Write("abcd", 4), Error);
    file.Close();
    EXPECT_THROW(file.Write("abcd", 4), Error);
}

// A WAV file cannot describe more than 4 GiB: writing past that is refused
// instead of wrapping the header's sizes.
TEST(WavOutput, RefusesToGrowPastFourGibibytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"huge.wav"_s);
    OutputFile file = CreateOutputFile(path);
    WriteHeader(file);
    file.SetPosition(kMaxWavFileBytes - 8);   // sparse: nothing in between is written
    const char frames[8] = {};
    file.Write(frames, 8);
    EXPECT_EQ(file.Length(), kMaxWavFileBytes);
    try {
        file.Write(frames, 4);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(e.Message().contains(u"4 GiB")) << e.what();
    }
    EXPECT_EQ(file.Length(), kMaxWavFileBytes);
    FinishWav(file);
    file.Close();
    QFile check(path);
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    const QByteArray header = check.read(44);
    EXPECT_EQ(U32(header, 4), static_cast<std::uint32_t>(kMaxWavFileBytes - 8));
    EXPECT_EQ(U32(header, 40), static_cast<std::uint32_t>(kMaxWavFileBytes - 44));
    EXPECT_EQ((kMaxWavFileBytes - 44) % 4, 0);
    check.close();
    QFile::remove(path);
}
