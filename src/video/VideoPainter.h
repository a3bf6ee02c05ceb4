#pragma once
// How the medley video's pictures are drawn, with QPainter on images: the
// cover (or a panel with the title) on the left, the medley's title and its
// track list on the right, the progress line's track at the foot. Uses QtGui;
// the build reaches it only through TVideoPictures.

#include "video/MedleyVideo.h"

#include <QImage>
#include <QRect>

namespace medlark {

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

// The pictures of painter as TVideoPictures::Write writes them.
QString WriteVideoPictures(const QString& folder, const TVideoPainter& painter, const TVideoPlan& plan,
                           const std::function<bool()>& stop);

} // namespace medlark
