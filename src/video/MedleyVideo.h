#pragma once
// The medley video: which picture shows when, the pictures themselves and the
// ffmpeg commands that make the MP4. Each distinct picture (the cover or a
// panel with the title, the medley's title and its numbered track list with
// the track being heard highlighted) is drawn once; ffmpeg holds it for its
// frames, moves the progress line and adds the medley's sound.
//
// Nothing here needs more than QtCore from its caller; drawing the pictures
// needs a QGuiApplication (see PictureApplication.h).

#include "outputs/Chapters.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace medlark {

inline constexpr int kVideoWidth = 1920;
inline constexpr int kVideoHeight = 1080;
inline constexpr int kVideoFps = 30;
// The progress line: its row at the foot of the picture.
inline constexpr int kProgressTop = 1066;
inline constexpr int kProgressHeight = 6;

// Which picture shows from which frame: picture i (chapter i highlighted) from
// FirstFrames[i] up to the next one's first frame; each change lands on the
// frame nearest its time. A chapter too short to get a frame of its own keeps
// its first frame equal to the next one's.
struct TVideoPlan final {
    std::vector<std::int64_t> FirstFrames;
    std::int64_t TotalFrames = 0;   // the medley's length in frames, nearest
    double Seconds = 0.0;           // the medley's length
};

TVideoPlan PlanVideo(const std::vector<TChapter>& chapters, double medleySeconds);

class TVideoPainter;

// The video's pictures of one medley. The cover is read at once: when it cannot
// be read, CoverProblem() says why and the pictures show a panel with the title.
class TVideoPictures final {
public:
    TVideoPictures(const QString& title, const std::vector<TChapter>& chapters, const QString& coverPath);
    ~TVideoPictures();
    TVideoPictures(const TVideoPictures&) = delete;
    TVideoPictures& operator=(const TVideoPictures&) = delete;

    const QString& CoverProblem() const { return coverProblem_; }

    // Writes a PNG per picture that gets frames, and the ffconcat list that
    // holds each for its frames, into folder; returns the list's path. Returns
    // an empty path when stop() says so between two pictures. Raises the
    // file-creation error when a file cannot be written.
    QString Write(const QString& folder, const TVideoPlan& plan, const std::function<bool()>& stop) const;

private:
    QString coverProblem_;
    std::unique_ptr<TVideoPainter> painter_;
};

// The ffmpeg command lines (program first) that make the MP4 at dest from the
// pictures' list and the medley WAV: the pictures (H.264 1920x1080 30 fps
// yuv420p tuned for still pictures, plan.TotalFrames frames) and the sound
// (AAC 48 kHz 320 kbit/s) side by side into workFolder, then Join puts both
// into dest, moov atom first.
struct TVideoCommands final {
    std::vector<QStringList> Together;
    QStringList Join;
};
TVideoCommands VideoCommands(const QString& ffmpeg, const QString& pictureList, const QString& wav,
                             const QString& title, const TVideoPlan& plan, const QString& workFolder,
                             const QString& dest);

} // namespace medlark
