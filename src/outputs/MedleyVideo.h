#pragma once
// The medley video's pictures and the ffmpeg command that makes the video: the
// cover (or a panel with the title), the medley's title and its numbered track
// list with the track being heard highlighted, and a thin progress line.
// Each distinct picture is drawn once; ffmpeg holds it for its frames, moves
// the progress line and adds the medley's sound.
//
// Drawing text needs a QGuiApplication (the offscreen platform will do).

#include "outputs/Chapters.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
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

// The cover image, turned as its file says; a null image and the reason when
// the file cannot be read as an image.
QImage LoadCover(const QString& path, QString& problem);

class TVideoPainter final {
public:
    TVideoPainter(const QString& title, const std::vector<TChapter>& chapters, const QImage& cover);

    // The picture with chapter `highlighted` highlighted (none for -1).
    QImage Picture(int highlighted) const;

    // The first track row shown while `highlighted` is: long lists scroll so
    // that the highlighted track stays in view.
    int FirstVisibleRow(int highlighted) const;
    static int VisibleRows();
    // Where the k-th row shown lies in the picture.
    static QRect RowRect(int shownRow);

private:
    QString title_;
    std::vector<TChapter> chapters_;
    QImage cover_;
};

// Writes a PNG per picture that gets frames, and the ffconcat list that holds
// each for its frames, into folder; returns the list's path. Returns an empty
// path when stop() says so between two pictures. Raises the file-creation
// error when a file cannot be written.
QString WriteVideoPictures(const QString& folder, const TVideoPainter& painter, const TVideoPlan& plan,
                           const std::function<bool()>& stop);

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
