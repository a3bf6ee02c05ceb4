#include "encode/PushEncoder.h"

#include "encode/CommandLine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

// An add-on folder with encoders that are shell scripts of the test's making.
class AddonFolderFixture : public testing::Test {
protected:
    void SetUp() override
    {
        addon_ = dir_.path() + u"/add on/"_s;   // a blank in the folder's name
        QDir().mkpath(addon_);
        // rec.sh writes its arguments, one per NUL-ended record, to the output.
        Script(u"rec.sh"_s, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$2\"\n");
        // slow.sh leaves a child behind and waits.
        Script(u"slow.sh"_s, "#!/bin/sh\necho $$ > \"$2\"\nsleep 30 &\necho $! >> \"$2\"\nwait\n");
        QFile inf(addon_ + u"encoder.inf"_s);
        ASSERT_TRUE(inf.open(QIODevice::WriteOnly));
        inf.write("[ENCODERS]\nrec.sh=Recorder\nslow.sh=Slow\nmissing.sh=Missing\n"
                  "[PARAMETER-MD]\nrec.sh=<INPUT> <OUTPUT> -t <TITLE> <none>\nslow.sh=<INPUT> <OUTPUT>\n"
                  "missing.sh=<INPUT> <OUTPUT>\n");
    }

    void Script(const QString& name, const char* text)
    {
        QFile file(addon_ + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }

    static QStringList Records(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList records;
        for (const QByteArray& r : file.readAll().split('\0'))
            records << QString::fromUtf8(r);
        records.removeLast();
        return records;
    }

    static bool WaitFor(const std::function<bool()>& done, int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > ms)
                return false;
            QThread::msleep(10);
        }
        return true;
    }

    // Alive and not a zombie waiting for its new parent to reap it.
    static bool Running(const QString& pid)
    {
        QFile stat(u"/proc/"_s + pid + u"/stat"_s);
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        return close > 0 && close + 2 < text.size() && text[close + 2] != 'Z';
    }

    QTemporaryDir dir_;
    QString addon_;
};

} // namespace

TEST_F(AddonFolderFixture, JobsRunInOrderWithEveryValueAsOneArgument)
{
    TPushEncoder queue(addon_, u"encoder.inf"_s);
    const QString title = u"My \"Best\" <script> $(touch x) back\\slash 'q' & end"_s;
    for (int i = 1; i <= 3; ++i)
        queue.Add(dir_.filePath(QString::asprintf("in %d.wav", i)), dir_.filePath(QString::asprintf("out %d.rec", i)),
                  u"rec.sh"_s, u"MD"_s, {{u"TITLE"_s, QuoteArgument(title)}, {u"INPUT"_s, u"overridden"_s}});
    EXPECT_EQ(queue.QueueCount(), 3);
    ASSERT_TRUE(WaitFor([&] { return queue.QueueCount() == 0; }, 10000));
    for (int i = 1; i <= 3; ++i) {
        const QStringList args = Records(dir_.filePath(QString::asprintf("out %d.rec", i)));
        EXPECT_EQ(args, (QStringList{dir_.filePath(QString::asprintf("in %d.wav", i)),
                                     dir_.filePath(QString::asprintf("out %d.rec", i)), u"-t"_s, title}));
    }
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath(u"x"_s)));   // nothing ran through a shell
    // The runner went one by one: each record is older than the next.
    EXPECT_LE(QFileInfo(dir_.filePath(u"out 1.rec"_s)).lastModified(), QFileInfo(dir_.filePath(u"out 2.rec"_s)).lastModified());
}

TEST_F(AddonFolderFixture, AnEncoderThatCannotStartIsSkipped)
{
    TPushEncoder queue(addon_, u"encoder.inf"_s);
    queue.Add(dir_.filePath(u"a.wav"_s), dir_.filePath(u"a.out"_s), u"missing.sh"_s, u"MD"_s, {});
    queue.Add(dir_.filePath(u"b.wav"_s), dir_.filePath(u"b.rec"_s), u"rec.sh"_s, u"MD"_s, {});
    ASSERT_TRUE(WaitFor([&] { return queue.QueueCount() == 0; }, 10000));
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath(u"a.out"_s)));
    // Placeholders without a value leave nothing, not even an empty argument.
    EXPECT_EQ(Records(dir_.filePath(u"b.rec"_s)).size(), 3);
}

// Every way a copy can fail is reported with its reason (and what the encoder
// said last); only files of the add-on folder itself are ever run.
TEST_F(AddonFolderFixture, FailedCopiesAreReportedAndNamesStayInTheFolder)
{
    Script(u"fails.sh"_s, "#!/bin/sh\necho 'first line' >&2\necho 'unsupported sample rate' >&2\nexit 3\n");
    Script(u"silent.sh"_s, "#!/bin/sh\nexit 0\n");
    Script(u"empty.sh"_s, "#!/bin/sh\n: > \"$2\"\n");
    QDir().mkpath(dir_.filePath(u"outside"_s));
    const QString marker = dir_.filePath(u"touched"_s);
    {
        QFile inf(addon_ + u"encoder.inf"_s);
        ASSERT_TRUE(inf.open(QIODevice::WriteOnly));
        inf.write("[ENCODERS]\nrec.sh=Recorder\nfails.sh=Fails\nsilent.sh=Silent\nempty.sh=Empty\n"
                  "../../../../usr/bin/touch=Escape\nmissing.sh=Missing\n"
                  "[PARAMETER-MD]\nrec.sh=<INPUT> <OUTPUT>\nfails.sh=<INPUT> <OUTPUT>\nsilent.sh=<INPUT> <OUTPUT>\n"
                  "empty.sh=<INPUT> <OUTPUT>\nmissing.sh=<INPUT> <OUTPUT>\n");
        inf.write(("../../../../usr/bin/touch=" + marker.toUtf8() + "\n").constData());
    }
    // The escaping name is not offered.
    QStringList captions;
    for (const TCompressionItem& item : CompressionMenuItems(addon_))
        captions << item.Caption;
    EXPECT_EQ(captions, (QStringList{u"Recorder"_s, u"Fails"_s, u"Silent"_s, u"Empty"_s}));
    EXPECT_FALSE(IsPlainEncoderName(u"../x"_s));
    EXPECT_FALSE(IsPlainEncoderName(u"a/b.sh"_s));
    EXPECT_FALSE(IsPlainEncoderName(u"a\\b.exe"_s));
    EXPECT_TRUE(IsPlainEncoderName(u"qaac.exe"_s));

    TPushEncoder queue(addon_, u"encoder.inf"_s);
    for (const QString& encoder : {u"fails.sh"_s, u"silent.sh"_s, u"empty.sh"_s, u"../../../../usr/bin/touch"_s,
                                   u"missing.sh"_s, u"rec.sh"_s})
        queue.Add(dir_.filePath(u"in.wav"_s), dir_.filePath(encoder.section(u'/', -1) + u".out"_s), encoder, u"MD"_s, {});
    ASSERT_TRUE(WaitFor([&] { return queue.QueueCount() == 0; }, 20000));
    EXPECT_FALSE(QFileInfo::exists(marker)) << "a program outside the add-on folder ran";
    const std::vector<TEncodeFailure> failures = queue.Failures();
    ASSERT_EQ(failures.size(), 5u);
    EXPECT_TRUE(failures[0].Dest.endsWith(u"fails.sh.out"_s));
    EXPECT_TRUE(failures[0].Reason.contains(u"終了コード 3"_s)) << failures[0].Reason.toStdString();
    EXPECT_TRUE(failures[0].Reason.endsWith(u"first line\nunsupported sample rate"_s)) << failures[0].Reason.toStdString();
    EXPECT_TRUE(failures[1].Reason.contains(u"出力ファイルを作りませんでした"_s));
    EXPECT_TRUE(failures[2].Reason.contains(u"出力ファイルを作りませんでした"_s));   // an empty file is none
    EXPECT_TRUE(failures[3].Reason.contains(u"フォルダーにありません"_s));
    EXPECT_TRUE(failures[4].Reason.contains(u"フォルダーにありません"_s));
    EXPECT_TRUE(QFileInfo(dir_.filePath(u"rec.sh.out"_s)).size() > 0);
}

TEST_F(AddonFolderFixture, StopKillsARunningEncoderAndEverythingItStarted)
{
    QElapsedTimer timer;
    QStringList pids;
    {
        TPushEncoder queue(addon_, u"encoder.inf"_s);
        queue.Add(dir_.filePath(u"a.wav"_s), dir_.filePath(u"slow.pid"_s), u"slow.sh"_s, u"MD"_s, {});
        queue.Add(dir_.filePath(u"b.wav"_s), dir_.filePath(u"never.rec"_s), u"rec.sh"_s, u"MD"_s, {});
        ASSERT_TRUE(WaitFor([&] {
            QFile f(dir_.filePath(u"slow.pid"_s));
            if (!f.open(QIODevice::ReadOnly))
                return false;
            pids = QString::fromLatin1(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
            return pids.size() == 2;
        }, 10000));
        EXPECT_EQ(queue.QueueCount(), 2);   // one waiting, one running
        timer.start();
        queue.Terminate();
    }   // the destructor waits for the runner
    EXPECT_LT(timer.elapsed(), 400);
    // The kill reaches the whole group at once; the kernel takes a moment to end them.
    for (const QString& pid : pids)
        EXPECT_TRUE(WaitFor([&] { return !Running(pid); }, 1000)) << "process " << pid.toStdString() << " still runs";
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath(u"never.rec"_s)));
}
