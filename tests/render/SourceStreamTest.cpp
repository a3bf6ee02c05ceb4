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
    [](const testing::TestParamInfo<Format>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == '.')
                c = '_';
        return name;
    });
