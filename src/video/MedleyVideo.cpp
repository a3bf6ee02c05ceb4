#include "video/MedleyVideo.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace medlark {

using namespace Qt::StringLiterals;

TVideoPlan PlanVideo(const std::vector<TChapter>& chapters, double medleySeconds)
{
    TVideoPlan plan;
    plan.Seconds = std::max(0.0, medleySeconds);
    plan.TotalFrames = std::max<std::int64_t>(1, std::llround(plan.Seconds * kVideoFps));
    std::int64_t previous = 0;
    for (const TChapter& chapter : chapters) {
        const std::int64_t first =
            plan.FirstFrames.empty() ? 0 : std::llround(std::max(0.0, chapter.Start) * kVideoFps);
        previous = std::clamp(first, previous, plan.TotalFrames);
        plan.FirstFrames.push_back(previous);
    }
    return plan;
}

TVideoCommands VideoCommands(const QString& ffmpeg, const QString& pictureList, const QString& wav,
                             const QString& title, const TVideoPlan& plan, const QString& workFolder,
                             const QString& dest)
{
    const QString pictures = QDir(workFolder).filePath(u"pictures.mp4"_s);
    const QString sound = QDir(workFolder).filePath(u"sound.m4a"_s);
    // "file:" keeps every path a plain file name, whatever it holds.
    const QStringList common{ffmpeg, u"-nostdin"_s, u"-hide_banner"_s, u"-loglevel"_s, u"error"_s, u"-y"_s};
    // The pictures become yuv once each, then are held for their frames; the
    // progress line slides in from the left over the medley's length; the
    // video ends on the medley's last frame.
    const QString seconds = QString::number(std::max(plan.Seconds, 0.001), 'f', 6);
    const QString graph =
        u"[0:v]format=yuv420p,fps=%1[pictures];"
        "color=c=0x3b82f6:s=%2x%3:r=%1[line];"
        "[pictures][line]overlay=x='(t/%4-1)*w':y=%5:shortest=1:format=yuv420,"
        "trim=end_frame=%6,format=yuv420p[video]"_s
            .arg(kVideoFps)
            .arg(kVideoWidth)
            .arg(kProgressHeight)
            .arg(seconds)
            .arg(kProgressTop)
            .arg(plan.TotalFrames);
    TVideoCommands commands;
    commands.Together.push_back(
        common
        + QStringList{u"-f"_s, u"concat"_s, u"-i"_s, u"file:"_s + pictureList, u"-filter_complex"_s, graph,
                      u"-map"_s, u"[video]"_s,
                      // A fixed quantiser: still pictures need no rate control,
                      // and the encoder's time per frame is most of the making.
                      u"-c:v"_s, u"libx264"_s, u"-preset"_s, u"ultrafast"_s, u"-tune"_s, u"stillimage"_s, u"-qp"_s,
                      u"20"_s, u"-x264-params"_s, u"keyint=300:scenecut=0"_s, u"-pix_fmt"_s, u"yuv420p"_s, u"-r"_s,
                      QString::number(kVideoFps), u"-f"_s, u"mp4"_s, u"file:"_s + pictures});
    // The sound on the other core. At 320 kbit/s the low-rate tools (noise
    // substitution, intensity and mid/side stereo) buy nothing audible, and
    // their searches made the sound's encoding slower than the pictures'.
    commands.Together.push_back(
        common + QStringList{u"-i"_s, u"file:"_s + wav, u"-c:a"_s, u"aac"_s, u"-aac_coder"_s, u"fast"_s, u"-aac_pns"_s,
                             u"0"_s, u"-aac_is"_s, u"0"_s, u"-aac_ms"_s, u"0"_s, u"-b:a"_s, u"320k"_s, u"-ar"_s,
                             u"48000"_s, u"-f"_s, u"mp4"_s, u"file:"_s + sound});
    commands.Join = common
                  + QStringList{u"-i"_s, u"file:"_s + pictures, u"-i"_s, u"file:"_s + sound, u"-map"_s, u"0:v"_s,
                                u"-map"_s, u"1:a"_s, u"-c"_s, u"copy"_s, u"-map_metadata"_s, u"-1"_s, u"-metadata"_s,
                                u"title="_s + title, u"-movflags"_s, u"+faststart"_s, u"-f"_s, u"mp4"_s,
                                u"file:"_s + dest};
    return commands;
}

} // namespace medlark
