#include "model/TrackList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

QString Touch(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return path;
}

QStringList Titles(const TrackList& list)
{
    QStringList titles;
    for (int i = 0; i < list.Count(); ++i)
        titles << TrackTitle(list.At(i).SourcePath);
    return titles;
}

} // namespace

TEST(TrackList, AddSkipsPathsWithoutAFileAndKeepsOrder)
{
    QTemporaryDir dir;
    const QString a = Touch(dir, u"A.mp3"_s);
    const QString c = Touch(dir, u"C 'quoted' $(x).wav"_s);
    QDir(dir.path()).mkdir(u"folder.mp3"_s);

    TrackList list;
    list.AddTrackFiles({a, dir.filePath(u"B.mp3"_s), c, dir.filePath(u"folder.mp3"_s), QString()});
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.At(0).SourcePath, a);
    EXPECT_EQ(list.At(1).SourcePath, c);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(list.At(i).Times.StartTime, -1.0);
        EXPECT_EQ(list.At(i).Times.EndTime, -1.0);
        EXPECT_TRUE(list.At(i).Caption.endsWith(u"Undefine</font></font>"));
    }
    EXPECT_EQ(list.AddTrackFile(dir.filePath(u"missing"_s)), nullptr);
    EXPECT_EQ(list.Count(), 2);
}

TEST(TrackList, SameFileTwiceGivesIndependentEntries)
{
    QTemporaryDir dir;
    const QString a = Touch(dir, u"A.mp3"_s);
    TrackList list;
    TrackEntry* first = list.AddTrackFile(a);
    TrackEntry* second = list.AddTrackFile(a);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    first->SetTimes(1, 2);
    EXPECT_EQ(list.At(1).Times.StartTime, -1.0);
    EXPECT_EQ(list.At(0).Caption,
              u"<b>A</b><br><font color=\"#999999\"><font size=\"2\">0:00:01.000\uFF5E0:00:02.000</font></font>");
    EXPECT_TRUE(list.At(1).Caption.contains(u"Undefine"));
}

TEST(TrackList, MoveShiftsTheEntriesInBetween)
{
    QTemporaryDir dir;
    TrackList list;
    list.AddTrackFiles({Touch(dir, u"A.mp3"_s), Touch(dir, u"B.mp3"_s), Touch(dir, u"C.mp3"_s),
                        Touch(dir, u"D.mp3"_s)});
    list.Move(0, 2);   // A dragged onto C
    EXPECT_EQ(Titles(list), (QStringList{u"B"_s, u"C"_s, u"A"_s, u"D"_s}));
    list.Move(3, 0);   // D dragged onto B
    EXPECT_EQ(Titles(list), (QStringList{u"D"_s, u"B"_s, u"C"_s, u"A"_s}));
    list.Move(1, 1);
    list.Move(-1, 2);
    list.Move(0, 4);
    EXPECT_EQ(Titles(list), (QStringList{u"D"_s, u"B"_s, u"C"_s, u"A"_s}));
}

TEST(TrackList, SelectionRemovalAndClear)
{
    QTemporaryDir dir;
    TrackList list;
    list.AddTrackFiles({Touch(dir, u"A.mp3"_s), Touch(dir, u"B.mp3"_s), Touch(dir, u"C.mp3"_s)});

    list.RemoveSelected();   // nothing selected: nothing removed
    EXPECT_EQ(list.Count(), 3);

    list.Select(2);
    list.Select(1);          // one row at a time
    EXPECT_EQ(list.SelectedIndex(), 1);
    EXPECT_FALSE(list.At(2).Selected);
    list.RemoveSelected();
    EXPECT_EQ(Titles(list), (QStringList{u"A"_s, u"C"_s}));
    EXPECT_EQ(list.SelectedIndex(), -1);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}
