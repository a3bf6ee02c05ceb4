#pragma once
// Audio fixtures made at test time: a test signal written with Medlark's own
// WAV writer, converted to other formats by the ffmpeg command-line tool, and
// reference decodes of whole files by the same tool.

#include "render/PcmBlock.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace medlark::test {

// A folder that lives as long as the test program.
QString FixtureDir();

// A 44.1 kHz stereo WAV of `seconds` seconds: a tone on each side plus noise,
// so that any shift of the samples shows. Made once per name.
QString SignalWav(double seconds = 8.0);

// Runs ffmpeg on input with the given output options; returns the output path
// (empty when ffmpeg failed). Made once per name.
QString Convert(const QString& input, const QString& name, const QStringList& options,
                const QStringList& inputOptions = {});

// The whole file decoded straight through by ffmpeg, as interleaved s16 with
// the given output options (for instance {"-ac", "2", "-ar", "44100"}).
PcmBlock ReferenceDecode(const QString& path, const QStringList& options);

// Index of the first differing frame of a and b over `frames` frames from the
// given frame offsets, or -1 when they are equal.
std::int64_t FirstMismatch(const PcmBlock& a, std::int64_t aFrame, const PcmBlock& b, std::int64_t bFrame,
                           std::int64_t frames);

} // namespace medlark::test
