#include "video/VideoPainter.h"

#include "model/Error.h"
#include "outputs/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

// Layout of the 1920 x 1080 picture.
constexpr int kMargin = 96;
constexpr QRect kCoverRect(kMargin, 120, 840, 840);
constexpr int kColumnLeft = 1016;
constexpr int kColumnWidth = kVideoWidth - kMargin - kColumnLeft;
constexpr int kTitleTop = 120;
constexpr int kListTop = 268;
constexpr int kRowHeight = 66;
constexpr int kRows = 10;

const QColor kBackTop(0x0f, 0x19, 0x33);
const QColor kBackBottom(0x1a, 0x2c, 0x58);
const QColor kAccent(0x3b, 0x82, 0xf6);
const QColor kText(0xe8, 0xee, 0xfa);
const QColor kDimText(0x9f, 0xb0, 0xd2);
const QColor kHeardText(0x74, 0x85, 0xa8);

QFont VideoFont(int pixels, bool bold)
{
    QFont font;
    font.setFamilies({u"Noto Sans CJK JP"_s, u"Noto Sans JP"_s, u"IPAGothic"_s, u"VL Gothic"_s, u"Sans Serif"_s});
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Up to maxLines lines of text wrapped to width; the last one elided when the
// text goes on.
QStringList WrappedLines(const QString& text, const QFont& font, int width, int maxLines)
{
    QStringList lines;
    QTextLayout layout(text, font);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            lines << QFontMetrics(font).elidedText(text.mid(line.textStart()), Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

void DrawTitlePanel(QPainter& p, const QString& title)
{
    QLinearGradient panel(kCoverRect.topLeft(), kCoverRect.bottomRight());
    panel.setColorAt(0, QColor(0x2a, 0x4a, 0x8f));
    panel.setColorAt(1, QColor(0x3b, 0x6f, 0xd1));
    p.fillRect(kCoverRect, panel);
    // A few soft waves, as on the program's own header.
    p.setPen(QPen(QColor(255, 255, 255, 40), 3));
    for (int k = 0; k < 4; ++k) {
        QPainterPath wave;
        const double base = kCoverRect.bottom() - 150 + k * 28;
        wave.moveTo(kCoverRect.left(), base + 26 * std::sin(k * 0.9));
        for (int x = 8; x <= kCoverRect.width(); x += 8)
            wave.lineTo(kCoverRect.left() + x, base + 26 * std::sin((x / 140.0) + k * 0.9));
        p.drawPath(wave);
    }
    const QFont font = VideoFont(68, true);
    const int width = kCoverRect.width() - 2 * 72;
    const QStringList lines = WrappedLines(title, font, width, 5);
    const int lineHeight = QFontMetrics(font).lineSpacing();
    int y = kCoverRect.center().y() - lineHeight * static_cast<int>(lines.size()) / 2;
    p.setFont(font);
    p.setPen(Qt::white);
    for (const QString& line : lines) {
        p.drawText(QRect(kCoverRect.left() + 72, y, width, lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, line);
        y += lineHeight;
    }
}

void DrawCover(QPainter& p, const QImage& cover)
{
    p.fillRect(kCoverRect, QColor(0, 0, 0, 90));
    const QImage scaled = cover.scaled(kCoverRect.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QPoint at(kCoverRect.left() + (kCoverRect.width() - scaled.width()) / 2,
                    kCoverRect.top() + (kCoverRect.height() - scaled.height()) / 2);
    p.drawImage(at, scaled);
}

} // namespace

QImage LoadCover(const QString& path, QString& problem)
{
    problem.clear();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        problem = reader.errorString();
    return image;
}

TVideoPainter::TVideoPainter(const QString& title, const std::vector<TChapter>& chapters, const QImage& cover)
    : title_(OneLine(title)), chapters_(chapters), cover_(cover)
{
}

int TVideoPainter::VisibleRows()
{
    return kRows;
}

QRect TVideoPainter::RowRect(int shownRow)
{
    return {kColumnLeft, kListTop + shownRow * kRowHeight, kColumnWidth, kRowHeight - 8};
}

int TVideoPainter::FirstVisibleRow(int highlighted) const
{
    const int count = static_cast<int>(chapters_.size());
    if (count <= kRows)
        return 0;
    // The highlighted row stays third from the top while the list allows.
    return std::clamp(highlighted - 2, 0, count - kRows);
}

QImage TVideoPainter::Picture(int highlighted) const
{
    QImage image(kVideoWidth, kVideoHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    QLinearGradient back(0, 0, 0, kVideoHeight);
    back.setColorAt(0, kBackTop);
    back.setColorAt(1, kBackBottom);
    p.fillRect(image.rect(), back);

    if (cover_.isNull())
        DrawTitlePanel(p, title_);
    else
        DrawCover(p, cover_);

    // The medley's title and what it holds.
    const QFont titleFont = VideoFont(54, true);
    p.setFont(titleFont);
    p.setPen(kText);
    const int titleHeight = QFontMetrics(titleFont).height();
    p.drawText(QRect(kColumnLeft, kTitleTop, kColumnWidth, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(titleFont).elidedText(title_, Qt::ElideRight, kColumnWidth));
    const QFont infoFont = VideoFont(28, false);
    p.setFont(infoFont);
    p.setPen(kDimText);
    const double total = chapters_.empty() ? 0.0 : chapters_.back().End;
    p.drawText(QRect(kColumnLeft, kTitleTop + titleHeight + 6, kColumnWidth, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%1 曲 · %2").arg(chapters_.size()).arg(ChapterTimeText(total)));

    // The track list: number, title (elided), start time.
    const QFont rowFont = VideoFont(34, false);
    const QFont rowBold = VideoFont(34, true);
    const QFont numberFont = VideoFont(28, true);
    const int count = static_cast<int>(chapters_.size());
    const int first = FirstVisibleRow(highlighted);
    const int shown = std::min(kRows, count - first);
    constexpr int numberWidth = 84;
    constexpr int timeWidth = 150;
    for (int k = 0; k < shown; ++k) {
        const int row = first + k;
        const QRect rect = RowRect(k);
        const bool lit = row == highlighted;
        if (lit) {
            p.setPen(Qt::NoPen);
            p.setBrush(kAccent);
            p.drawRoundedRect(rect, 12, 12);
        }
        const QColor ink = lit ? QColor(Qt::white) : row < highlighted ? kHeardText : kText;
        p.setPen(lit ? QColor(Qt::white) : kDimText);
        p.setFont(numberFont);
        p.drawText(rect.adjusted(18, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::asprintf("%02d", row + 1));
        const QFont& font = lit ? rowBold : rowFont;
        p.setFont(font);
        p.setPen(ink);
        const QRect titleRect = rect.adjusted(18 + numberWidth, 0, -(18 + timeWidth), 0);
        p.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(font).elidedText(chapters_[row].Title, Qt::ElideRight, titleRect.width()));
        p.setFont(rowFont);
        p.setPen(lit ? QColor(Qt::white) : kDimText);
        p.drawText(rect.adjusted(rect.width() - 18 - timeWidth, 0, -18, 0), Qt::AlignRight | Qt::AlignVCenter,
                   ChapterTimeText(chapters_[row].Start));
    }
    // Rows beyond the view fade out at its edges.
    auto fade = [&p](int top, bool down) {
        QLinearGradient shade(0, top, 0, top + 40);
        const QColor clear(kBackTop.red(), kBackTop.green(), kBackTop.blue(), 0);
        QColor solid = QColor(0x13, 0x20, 0x40);
        shade.setColorAt(down ? 0 : 1, clear);
        shade.setColorAt(down ? 1 : 0, solid);
        p.fillRect(QRect(kColumnLeft, top, kColumnWidth, 40), shade);
    };
    if (first > 0)
        fade(kListTop - 8, false);
    if (first + shown < count)
        fade(kListTop + kRows * kRowHeight - 40, true);

    // The progress line's track; ffmpeg draws the line itself over it.
    p.fillRect(QRect(0, kProgressTop, kVideoWidth, kProgressHeight), QColor(255, 255, 255, 36));
    return image;
}

QString WriteVideoPictures(const QString& folder, const TVideoPainter& painter, const TVideoPlan& plan,
                           const std::function<bool()>& stop)
{
    const QDir dir(folder);
    QByteArray list("ffconcat version 1.0\n");
    QString last;
    // The durations in microseconds add up to each change's frame time.
    auto add = [&](const QString& name, int highlighted, std::int64_t from, std::int64_t to) {
        QSaveFile file(dir.filePath(name));
        // Fast compression: the pictures are read once, and are large.
        if (!file.open(QIODevice::WriteOnly) || !painter.Picture(highlighted).save(&file, "PNG", 80) || !file.commit())
            throw CreateFileError(dir.filePath(name), file.errorString());
        const auto micros = [](std::int64_t frame) { return frame * 1000000 / kVideoFps; };
        list += "file " + name.toLatin1() + "\nduration " + QByteArray::number(micros(to) - micros(from)) + "us\n";
        last = name;
    };
    const auto count = static_cast<int>(plan.FirstFrames.size());
    for (int i = 0; i < count; ++i) {
        const std::int64_t from = plan.FirstFrames[i];
        const std::int64_t to = i + 1 < count ? plan.FirstFrames[i + 1] : plan.TotalFrames;
        if (to <= from)
            continue;   // no frame of its own
        if (stop && stop())
            return {};
        add(QString::asprintf("picture_%04d.png", i + 1), i, from, to);
    }
    if (last.isEmpty())
        add(u"picture_0000.png"_s, -1, 0, plan.TotalFrames);   // nothing placed: nothing highlighted
    // The last picture once more, so that its duration is kept to the end.
    list += "file " + last.toLatin1() + "\n";
    const QString listPath = dir.filePath(u"pictures.ffconcat"_s);
    SaveBytes(list, listPath);
    return listPath;
}

TVideoPictures::TVideoPictures(const QString& title, const std::vector<TChapter>& chapters, const QString& coverPath)
{
    QImage cover;
    if (!coverPath.isEmpty())
        cover = LoadCover(coverPath, coverProblem_);
    painter_ = std::make_unique<TVideoPainter>(title, chapters, cover);
}

TVideoPictures::~TVideoPictures() = default;

QString TVideoPictures::Write(const QString& folder, const TVideoPlan& plan, const std::function<bool()>& stop) const
{
    return WriteVideoPictures(folder, *painter_, plan, stop);
}

} // namespace medlark
