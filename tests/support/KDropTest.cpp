#include "support/KDrop.h"

#include <QApplication>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

bool DropOn(QWidget* widget, const QStringList& paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

} // namespace

TEST(KAddDrop, HandsOverEveryDropWholeAndInOrder)
{
    QListWidget first, second;
    TKAddDrop drop;
    int calls = 0;
    QStringList got;
    drop.OnDropFiles = [&](TKAddDrop* sender, QWidget* target, const QStringList& files) {
        ++calls;
        got = files;
        EXPECT_EQ(sender, &drop);
        EXPECT_EQ(target, drop.Control());
    };
    EXPECT_FALSE(DropOn(first.viewport(), {u"/a.wav"_s}));   // detached: refused

    drop.SetControl(&first);
    const QString longPath = u"/music/"_s + QString(700, u'x') + u".wav"_s;
    EXPECT_TRUE(DropOn(first.viewport(), {u"/m/b.mp3"_s, u"/m/folder"_s, longPath}));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(got, (QStringList{u"/m/b.mp3"_s, u"/m/folder"_s, longPath}));   // no 599-character cut
    EXPECT_TRUE(DropOn(first.viewport(), {u"/m/c.wav"_s}));
    EXPECT_EQ(drop.LastDropFiles(), QStringList{u"/m/c.wav"_s});

    drop.SetActive(false);
    EXPECT_FALSE(DropOn(first.viewport(), {u"/m/d.wav"_s}));
    drop.SetActive(true);
    EXPECT_TRUE(DropOn(first.viewport(), {u"/m/d.wav"_s}));

    drop.SetControl(&second);
    EXPECT_FALSE(DropOn(first.viewport(), {u"/m/e.wav"_s}));
    EXPECT_TRUE(DropOn(second.viewport(), {u"/m/e.wav"_s}));
    EXPECT_EQ(calls, 4);
}

TEST(KAddDrop, ADestroyedControlLeavesItDetached)
{
    TKAddDrop drop;
    {
        QListWidget list;
        drop.SetControl(&list);
    }
    EXPECT_EQ(drop.Control(), nullptr);
}
