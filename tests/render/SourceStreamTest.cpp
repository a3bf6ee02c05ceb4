#include "render/SourceStream.h"

#include "Fixtures.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>

using namespace medlark;
using namespace medlark::test;
using namespace Qt::StringLiterals;

namespace {

struct Format {
    const char* name;       // fixture file name
    QStringList options;    // ffmpeg output options
};

void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

// A test name from the fixture's file name ("cbr.mp3" -> "f_cbr_mp3").
std::string FormatName(const testing::TestParamInfo<Format>& info)
{
    std::string name = std::string("f_") + info.param.name;
    for (char& c : name)
        if (c == '.')
            c = '_';
    return name;
}

const QStringList kStereo44{u"-ac"_s, u"2"_s, u"-ar"_s, u"44100"_s};

// In points that land before the decoder pre-roll, on packet edges and in the
// middle of packets; the last one close to the end of the 8 s source.
constexpr double kInPoints[] = {0.0, 0.0001, 0.1, 0.5, 1.0003, 2.6123, 3.7, 5.25, 6.8};

class ExactFormat : public testing::TestWithParam<Format> {};

} // namespace

// Every segment equals the same frames of a straight-through decode by the
// ffmpeg tool, bit for bit; the duration is that decode's length.
TEST_P(ExactFormat, SegmentsEqualTheStraightThroughDecode)
{
    const Format& format = GetParam();
    const QString path = Convert(SignalWav(), QString::fromLatin1(format.name), format.options);
    ASSERT_FALSE(path.isEmpty()) << "ffmpeg could not make " << format.name;
    const PcmBlock reference = ReferenceDecode(path, kStereo44);
    const std::int64_t total = FrameCount(reference);
    ASSERT_GT(total, 7 * kPcmRate);

    SourceStream source = OpenSourceStream(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(source.SourceRate(), kPcmRate);
    EXPECT_EQ(source.Duration(), static_cast<double>(total) / kPcmRate);

    PcmBlock whole;
    EXPECT_GT(DecodeSegment(source, whole, 0.0, 100.0), 0);
    ASSERT_EQ(FrameCount(whole), total);
    EXPECT_EQ(FirstMismatch(whole, 0, reference, 0, total), -1);

    for (const double in : kInPoints) {
        SCOPED_TRACE(testing::Message() << "in point " << in);
        const auto first = static_cast<std::int64_t>(std::trunc(static_cast<long double>(in) * kPcmRate));
        PcmBlock segment{7, 7};   // appended to, never replaced
        EXPECT_GT(DecodeSegment(source, segment, in, in + 1.0), 0);
        ASSERT_EQ(ByteCount(segment), 4 + 176400);
        EXPECT_EQ(segment[0], 7);
        EXPECT_EQ(segment[1], 7);
        segment.erase(segment.begin(), segment.begin() + 2);
        const std::int64_t frames = std::min<std::int64_t>(kPcmRate, total - first);
        EXPECT_EQ(FirstMismatch(segment, 0, reference, first, frames), -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ExactFormat,
    testing::Values(Format{"s16.wav", {u"-c:a"_s, u"pcm_s16le"_s}},
                    Format{"s24.wav", {u"-c:a"_s, u"pcm_s24le"_s}},
                    Format{"f32.wav", {u"-c:a"_s, u"pcm_f32le"_s}},
                    Format{"u8.wav", {u"-c:a"_s, u"pcm_u8"_s}},
                    Format{"lossless.flac", {u"-c:a"_s, u"flac"_s}},
                    Format{"cbr.mp3", {u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"128k"_s}},
                    Format{"vbr.mp3", {u"-c:a"_s, u"libmp3lame"_s, u"-q:a"_s, u"4"_s}},
                    Format{"low.mp3", {u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"32k"_s}},
                    // Without noise substitution: its noise is random and differs after any seek.
                    Format{"aac.m4a", {u"-c:a"_s, u"aac"_s, u"-aac_pns"_s, u"0"_s, u"-b:a"_s, u"128k"_s}},
                    Format{"adts.aac", {u"-c:a"_s, u"aac"_s, u"-aac_pns"_s, u"0"_s, u"-b:a"_s, u"96k"_s, u"-f"_s, u"adts"_s}},
                    Format{"vorbis.ogg", {u"-c:a"_s, u"libvorbis"_s, u"-q:a"_s, u"4"_s}}),
    FormatName);

namespace {

class ResampledFormat : public testing::TestWithParam<Format> {};

} // namespace

// Sources at other rates start at the output frame nearest the in point; the
// resampler is fed from a frame on the common grid of both rates, so its
// phases, and so its output, equal those of the straight-through resampled decode.
TEST_P(ResampledFormat, SegmentsLineUpWithTheResampledDecode)
{
    const Format& format = GetParam();
    const QString path = Convert(SignalWav(), QString::fromLatin1(format.name), format.options);
    ASSERT_FALSE(path.isEmpty()) << "ffmpeg could not make " << format.name;
    const PcmBlock reference = ReferenceDecode(path, kStereo44);
    ASSERT_GT(FrameCount(reference), 7 * kPcmRate);

    SourceStream source = OpenSourceStream(path);
    ASSERT_TRUE(source);
    EXPECT_NE(source.SourceRate(), kPcmRate);
    const PcmBlock native = ReferenceDecode(path, {u"-ac"_s, u"2"_s});
    EXPECT_EQ(source.Duration(), static_cast<double>(FrameCount(native)) / source.SourceRate());

    for (const double in : {0.0, 0.5, 1.0, 2.345678, 4.25, 6.0001}) {
        SCOPED_TRACE(testing::Message() << "in point " << in);
        PcmBlock segment;
        EXPECT_GT(DecodeSegment(source, segment, in, in + 1.0), 0);
        EXPECT_EQ(ByteCount(segment), 176400);
        const auto refFirst = static_cast<std::int64_t>(std::llround(static_cast<long double>(in) * kPcmRate));
        EXPECT_EQ(FirstMismatch(segment, 0, reference, refFirst, kPcmRate), -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ResampledFormat,
    testing::Values(Format{"48k.wav", {u"-ar"_s, u"48000"_s}},
                    Format{"22k.wav", {u"-ar"_s, u"22050"_s}},
                    Format{"96k.flac", {u"-ar"_s, u"96000"_s, u"-c:a"_s, u"flac"_s}},
                    Format{"opus.opus", {u"-c:a"_s, u"libopus"_s, u"-b:a"_s, u"128k"_s}},
                    Format{"32k.mp3", {u"-ar"_s, u"32000"_s, u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"96k"_s}}),
    FormatName);

TEST(SourceStream, MonoPlaysAtFullLevelOnBothSidesAndSurroundIsMixedDown)
{
    const QString mono = Convert(SignalWav(), u"mono.wav"_s, {u"-ac"_s, u"1"_s});
    const PcmBlock monoReference = ReferenceDecode(mono, {u"-ac"_s, u"1"_s});
    SourceStream source = OpenSourceStream(mono);
    ASSERT_TRUE(source);
    EXPECT_EQ(source.SourceChannels(), 1);
    PcmBlock segment;
    ASSERT_GT(DecodeSegment(source, segment, 2.0, 3.0), 0);
    ASSERT_EQ(FrameCount(segment), kPcmRate);
    for (std::int64_t i = 0; i < kPcmRate; ++i) {
        ASSERT_EQ(segment[static_cast<size_t>(2 * i)], monoReference[static_cast<size_t>(2 * kPcmRate + i)]) << i;
        ASSERT_EQ(segment[static_cast<size_t>(2 * i + 1)], monoReference[static_cast<size_t>(2 * kPcmRate + i)]) << i;
    }

    // Six channels come down to two as the ffmpeg tool mixes them.
    const QString surround = Convert(SignalWav(), u"surround.flac"_s,
                                     {u"-af"_s, u"pan=5.1|c0=c0|c1=c1|c2=0.5*c0|c3=c1|c4=c0|c5=c1"_s});
    const PcmBlock reference = ReferenceDecode(surround, kStereo44);
    source = OpenSourceStream(surround);
    ASSERT_TRUE(source);
    EXPECT_EQ(source.SourceChannels(), 6);
    segment.clear();
    ASSERT_GT(DecodeSegment(source, segment, 4.5, 5.5), 0);
    ASSERT_EQ(FrameCount(segment), kPcmRate);
    EXPECT_EQ(FirstMismatch(segment, 0, reference, 4 * kPcmRate + kPcmRate / 2, kPcmRate), -1);
}

// Containers whose timestamps count milliseconds, and the audio of video files.
TEST(SourceStream, WmaAndVideoFilesCutWhereTheStraightDecodeHasTheInPoint)
{
    const QString wma = Convert(SignalWav(), u"wma.wma"_s, {u"-c:a"_s, u"wmav2"_s, u"-b:a"_s, u"128k"_s});
    ASSERT_FALSE(wma.isEmpty());
    for (const auto& [name, options] : std::vector<std::pair<QString, QStringList>>{
             {u"wma"_s, {}},
             {u"clip.mp4"_s,
              {u"-f"_s, u"lavfi"_s, u"-i"_s, u"testsrc=size=64x48:rate=10"_s, u"-shortest"_s, u"-map"_s, u"1:v"_s,
               u"-map"_s, u"0:a"_s, u"-c:v"_s, u"mpeg4"_s, u"-c:a"_s, u"aac"_s, u"-aac_pns"_s, u"0"_s}},
             {u"clip.mkv"_s,
              {u"-f"_s, u"lavfi"_s, u"-i"_s, u"testsrc=size=64x48:rate=10"_s, u"-shortest"_s, u"-map"_s, u"1:v"_s,
               u"-map"_s, u"0:a"_s, u"-c:v"_s, u"mpeg4"_s, u"-c:a"_s, u"flac"_s}},
             // Vorbis frames vary in length: read from the start.
             {u"vorbis.webm"_s, {u"-c:a"_s, u"libvorbis"_s}}}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = name == u"wma" ? wma : Convert(SignalWav(), name, options);
        ASSERT_FALSE(path.isEmpty());
        const PcmBlock reference = ReferenceDecode(path, kStereo44);
        SourceStream source = OpenSourceStream(path);
        ASSERT_TRUE(source);
        EXPECT_EQ(source.Duration(), static_cast<double>(FrameCount(reference)) / kPcmRate);
        for (const double in : {0.25, 3.3, 6.5}) {
            SCOPED_TRACE(testing::Message() << "in point " << in);
            PcmBlock segment;
            ASSERT_GT(DecodeSegment(source, segment, in, in + 1.0), 0);
            ASSERT_EQ(FrameCount(segment), kPcmRate);
            const auto first = static_cast<std::int64_t>(std::trunc(static_cast<long double>(in) * kPcmRate));
            EXPECT_EQ(FirstMismatch(segment, 0, reference, first, kPcmRate), -1);
        }
    }
}

TEST(SourceStream, SegmentLengthsAreTruncatedFrameCounts)
{
    SourceStream source = OpenSourceStream(Convert(SignalWav(), u"lengths.mp3"_s, {u"-c:a"_s, u"libmp3lame"_s}));
    ASSERT_TRUE(source);
    const double duration = source.Duration();
    ASSERT_GT(duration, 7.9);

    auto cut = [&](double in, double out, PcmBlock& pcm) { return DecodeSegment(source, pcm, in, out); };
    PcmBlock pcm;
    EXPECT_GT(cut(1.0, 2.0, pcm), 0);
    EXPECT_EQ(ByteCount(pcm), 176400);
    pcm.clear();
    EXPECT_GT(cut(3.0, 5.5, pcm), 0);
    EXPECT_EQ(ByteCount(pcm), 441000);
    pcm.clear();
    EXPECT_GT(cut(2.0, 2.00005, pcm), 0);
    EXPECT_EQ(ByteCount(pcm), 8);   // Trunc(2.205) frames

    // Start equal to end: nothing appended, yet the source had data there.
    pcm.clear();
    EXPECT_GT(cut(4.0, 4.0, pcm), 0);
    EXPECT_TRUE(pcm.empty());
    // An out point before the in point appends nothing.
    EXPECT_GT(cut(4.0, 3.0, pcm), 0);
    EXPECT_TRUE(pcm.empty());

    // An out point past the end: the frames up to the end.
    const auto total = static_cast<std::int64_t>(std::llround(duration * kPcmRate));
    const auto first = static_cast<std::int64_t>(std::trunc(static_cast<long double>(7.5) * kPcmRate));
    EXPECT_GT(cut(7.5, 20.0, pcm), 0);
    EXPECT_EQ(FrameCount(pcm), total - first);

    // An in point at or past the end: 0 and nothing appended.
    pcm.assign({1, 2});
    EXPECT_EQ(cut(duration, duration + 1, pcm), 0);
    EXPECT_EQ(cut(60.0, 61.0, pcm), 0);
    EXPECT_EQ(cut(-1.0, 2.0, pcm), 0);
    EXPECT_EQ(cut(std::numeric_limits<double>::quiet_NaN(), 2.0, pcm), 0);
    EXPECT_EQ(pcm, (PcmBlock{1, 2}));
    // The last frame is still reachable.
    EXPECT_GT(cut(static_cast<double>(total - 1) / kPcmRate, duration + 1, pcm), 0);
    EXPECT_EQ(pcm.size(), 4u);

    // The empty stream.
    SourceStream none;
    EXPECT_FALSE(none);
    EXPECT_EQ(DecodeSegment(none, pcm, 0, 1), -1);
    EXPECT_EQ(pcm.size(), 4u);
    EXPECT_EQ(none.Duration(), -1.0);
}

TEST(SourceStream, FilesWithoutDecodableAudioGiveTheEmptyStream)
{
    const QString dir = FixtureDir();
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir + u'/' + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    };
    EXPECT_FALSE(OpenSourceStream(dir + u"/missing.mp3"_s));
    EXPECT_FALSE(OpenSourceStream(dir));
    EXPECT_FALSE(OpenSourceStream(QString()));
    EXPECT_FALSE(OpenSourceStream(write(u"notes.mp3"_s, "These are not the sounds you are looking for.\n")));
    EXPECT_FALSE(OpenSourceStream(write(u"empty.wav"_s, QByteArray())));
    QByteArray garbage(65536, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919) ^ (i >> 3));
    EXPECT_FALSE(OpenSourceStream(write(u"garbage.m4a"_s, garbage)));
    const QString videoOnly = Convert(u"testsrc=size=64x48:rate=10:duration=2"_s, u"video_only.mp4"_s,
                                      {u"-c:v"_s, u"mpeg4"_s}, {u"-f"_s, u"lavfi"_s});
    ASSERT_FALSE(videoOnly.isEmpty());
    EXPECT_FALSE(OpenSourceStream(videoOnly));
}

TEST(SourceStream, TruncatedFilesDecodeWhatTheyHave)
{
    const QString full = Convert(SignalWav(), u"whole.mp3"_s, {u"-c:a"_s, u"libmp3lame"_s});
    QFile in(full);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    const QString cut = FixtureDir() + u"/cut.mp3"_s;
    QFile out(cut);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.size() / 2 + 77));   // ends inside a frame
    out.close();

    SourceStream source = OpenSourceStream(cut);
    ASSERT_TRUE(source);
    const double duration = source.Duration();
    EXPECT_GT(duration, 3.0);
    EXPECT_LT(duration, 5.0);
    PcmBlock pcm;
    EXPECT_GT(DecodeSegment(source, pcm, 3.0, 9.0), 0);
    EXPECT_EQ(FrameCount(pcm), std::llround(duration * kPcmRate) - 3 * kPcmRate);
    EXPECT_EQ(DecodeSegment(source, pcm, 6.0, 7.0), 0);
}

// A file name is never taken for a protocol, a list or a pattern.
TEST(SourceStream, HostileFileNamesOpenAsPlainFiles)
{
    const QString source = Convert(SignalWav(), u"plain.flac"_s, {u"-c:a"_s, u"flac"_s});
    for (const QString& name : {u"concat:a.flac|b.flac"_s, u"http:%2F%2Fexample.flac"_s, u"it's \"$(rm -rf x)\" <&>.flac"_s,
                                u"line\nbreak %d.flac"_s, u"日本語の曲.flac"_s}) {
        const QString path = FixtureDir() + u'/' + name;
        ASSERT_TRUE(QFile::copy(source, path)) << name.toStdString();
        SourceStream stream = OpenSourceStream(path);
        EXPECT_TRUE(stream) << name.toStdString();
        PcmBlock pcm;
        EXPECT_GT(DecodeSegment(stream, pcm, 1.0, 1.5), 0);
        EXPECT_EQ(FrameCount(pcm), kPcmRate / 2);
    }
}

// Sources of a second or less are counted from their start.
TEST(SourceStream, ShortSourcesHaveExactDurations)
{
    for (const double seconds : {0.3, 1.0, 2.5}) {
        for (const auto& [name, codec] : {std::pair{"short.mp3", "libmp3lame"}, std::pair{"short.flac", "flac"}}) {
            const QString file = QString::number(seconds) + QString::fromLatin1(name);
            const QString path = Convert(SignalWav(seconds), file, {u"-c:a"_s, QString::fromLatin1(codec)});
            ASSERT_FALSE(path.isEmpty());
            SourceStream source = OpenSourceStream(path);
            ASSERT_TRUE(source);
            EXPECT_EQ(source.Duration(), static_cast<double>(FrameCount(ReferenceDecode(path, kStereo44))) / kPcmRate)
                << file.toStdString();
        }
    }
}
