// The shipped sound-sheet page, run in headless Chromium against a local web server.

#include "outputs/HtmlBuilder.h"
#include "outputs/TrackMarks.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

// Loads the sheet in a frame, waits for its track list, clicks the second track
// and reports what the page shows.
constexpr char kHarness[] = R"(<!DOCTYPE html>
<html><body><pre id="result">pending</pre>
<iframe id="sheet" src="soundsheet.html" width="800" height="600"></iframe>
<script>
function report(text) { document.getElementById("result").textContent = text; }
function check(tries) {
  var d = document.getElementById("sheet").contentDocument;
  var buttons = d ? d.querySelectorAll(".tracks .track") : [];
  if (buttons.length < 3) { if (tries > 0) setTimeout(function () { check(tries - 1); }, 50); else report("no list"); return; }
  var audio = d.querySelector("audio");
  var items = Array.prototype.slice.call(d.querySelectorAll(".tracks li"));
  var heard = function () { return items.findIndex(function (li) { return li.classList.contains("heard"); }); };
  buttons[1].click();
  var time = audio.currentTime;
  audio.pause();
  var heardAtStart = heard();
  // Past the middle of the crossfade into track 2.
  audio.currentTime = 28.5;
  setTimeout(function () {
    report("items=" + items.length + " time=" + time + " heardAtStart=" + heardAtStart + " heard=" + heard() +
           " title=" + buttons[1].querySelector(".title").textContent +
           " scripts=" + d.querySelectorAll("script").length +
           " src=" + audio.getAttribute("src"));
  }, 300);
}
window.addEventListener("load", function () { check(100); });
</script></body></html>
)";

QString RunChromium(const QString& url, const QString& profile, QString* why)
{
    const QString chromium = QStandardPaths::findExecutable(u"chromium"_s);
    if (chromium.isEmpty()) {
        *why = u"chromium is not installed"_s;
        return {};
    }
    QProcess browser;
    browser.start(chromium, {u"--headless"_s, u"--no-sandbox"_s, u"--disable-gpu"_s, u"--disable-quic"_s,
                             u"--no-first-run"_s, u"--disable-background-networking"_s,
                             u"--disable-component-update"_s, u"--disable-sync"_s, u"--mute-audio"_s,
                             u"--autoplay-policy=no-user-gesture-required"_s, u"--user-data-dir="_s + profile,
                             u"--virtual-time-budget=8000"_s, u"--dump-dom"_s, url});
    if (!browser.waitForFinished(90000) || browser.exitCode() != 0) {
        browser.kill();
        *why = u"chromium could not run: "_s + QString::fromUtf8(browser.readAllStandardError()).left(300);
        return {};
    }
    return QString::fromUtf8(browser.readAllStandardOutput());
}

} // namespace

TEST(SoundSheetPage, ListsTheTracksAndSeeksToWhereATrackFadesIn)
{
    QTemporaryDir dir;
    const QString publish = dir.filePath(u"publish_261208_01"_s);
    QDir().mkpath(publish);

    // A medley of three tracks; blank head 1 s, crossfade 6 s.
    TTrackMapJson json;
    json.Add({u"/m/First.mp3"_s, 10, 40, 176400, 30 * 176400});
    json.Add({u"/m/Se<b>cond<i> & \"q\".mp3"_s, 0, 60, 31 * 176400, 60 * 176400});
    json.Add({u"/m/Third.mp3"_s, 5, 35, 85 * 176400, 30 * 176400});
    json.Close();
    json.SaveToFile(publish + u"/mix 1.json"_s);
    QProcess ffmpeg;
    ffmpeg.start(u"ffmpeg"_s, {u"-nostdin"_s, u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                               u"anullsrc=r=48000:cl=mono"_s, u"-t"_s, u"120"_s, u"-c:a"_s, u"libopus"_s,
                               u"-b:a"_s, u"16k"_s, publish + u"/mix 1.opus"_s});
    ASSERT_TRUE(ffmpeg.waitForFinished(60000));

    THTMLBuilder html(QStringLiteral(MEDLARK_SOURCE_DIR "/template/"), publish, cfmMixed);
    html.Write(QString(), publish + u"/mix 1.opus"_s, {{u"OFFSET"_s, u"6"_s}, {u"JSON"_s, u"mix 1.json"_s}});
    html.Publish(u"soundsheet.html"_s);
    QFile harness(publish + u"/harness.html"_s);
    ASSERT_TRUE(harness.open(QIODevice::WriteOnly));
    harness.write(kHarness);
    harness.close();

    QProcess server;
    server.start(u"python3"_s, {u"-u"_s, u"-m"_s, u"http.server"_s, u"0"_s, u"--bind"_s, u"127.0.0.1"_s,
                                u"--directory"_s, publish});
    QString port;
    for (int i = 0; i < 100 && port.isEmpty(); ++i) {
        server.waitForReadyRead(100);
        const auto match = QRegularExpression(u"port (\\d+)"_s).match(QString::fromUtf8(server.readAllStandardOutput()));
        if (match.hasMatch())
            port = match.captured(1);
    }
    ASSERT_FALSE(port.isEmpty()) << "the local web server did not start";

    QString why;
    const QString dom = RunChromium(u"http://127.0.0.1:"_s + port + u"/harness.html"_s, dir.filePath(u"profile"_s), &why);
    server.kill();
    server.waitForFinished();
    if (dom.isEmpty())
        GTEST_SKIP() << "Chromium cannot start here: " << why.toStdString();

    const auto result = QRegularExpression(u"<pre id=\"result\">([^<]*)</pre>"_s).match(dom);
    ASSERT_TRUE(result.hasMatch()) << dom.left(2000).toStdString();
    const QString text = result.captured(1);
    EXPECT_TRUE(text.contains(u"items=3 "_s)) << text.toStdString();
    // Track 2 ends its fade-in at 31 s: playing it starts 6 s earlier, and
    // while playing it counts as heard from the middle of that crossfade on.
    EXPECT_TRUE(text.contains(u" time=25 "_s)) << text.toStdString();
    // A click shows its track as heard at once.
    EXPECT_TRUE(text.contains(u" heardAtStart=1 "_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u" heard=1 "_s)) << text.toStdString();
    // The name arrives as text: no markup made of it (&amp; etc. are how the DOM dump spells it).
    EXPECT_TRUE(text.contains(u" title=Se&lt;b&gt;cond&lt;i&gt; &amp; \"q\" "_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u" scripts=1 "_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u" src=mix%201.opus"_s)) << text.toStdString();
}

// Opened as a file, as most people open it: the block carries the track map
// itself, and the page is named after the medley.
TEST(SoundSheetPage, ListsTheTracksWhenOpenedAsAFile)
{
    QTemporaryDir dir;
    const QString publish = dir.filePath(u"publish_261208_01"_s);
    QDir().mkpath(publish);
    TTrackMapJson json;
    json.Add({u"/m/First.mp3"_s, 10, 40, 176400, 30 * 176400});
    json.Add({u"/m/Se<b>cond<i> & \"q\" '<script>.mp3"_s, 0, 60, 31 * 176400, 60 * 176400});
    json.Add({u"/m/Third.mp3"_s, 5, 35, 85 * 176400, 30 * 176400});
    json.Close();

    THTMLBuilder html(QStringLiteral(MEDLARK_SOURCE_DIR "/template/"), publish, cfmMixed);
    html.Write(u"Album <Demo>"_s, publish + u"/mix.m4a"_s,
               {{u"OFFSET"_s, u"6"_s}, {u"JSON"_s, u"mix.json"_s}, {u"TRACKS"_s, json.Lines().join(QString())}});
    html.Publish(u"soundsheet.html"_s);
    // No JSON file next to it: the list must come from the page itself.
    QString why;
    const QString dom = RunChromium(QUrl::fromLocalFile(publish + u"/soundsheet.html"_s).toString(),
                                    dir.filePath(u"profile"_s), &why);
    if (dom.isEmpty())
        GTEST_SKIP() << "Chromium cannot start here: " << why.toStdString();
    EXPECT_EQ(dom.count(QRegularExpression(u"<li[ >]"_s)), 3) << dom.left(3000).toStdString();
    EXPECT_TRUE(dom.contains(u"<span class=\"title\">Se&lt;b&gt;cond&lt;i&gt; &amp; \"q\" '&lt;script&gt;</span>"_s))
        << dom.toStdString();
    EXPECT_TRUE(dom.contains(u"<title>Album &lt;Demo&gt;</title>"_s)) << dom.left(600).toStdString();
    EXPECT_TRUE(dom.contains(u"<h1>Album &lt;Demo&gt;</h1>"_s));
    EXPECT_FALSE(dom.contains(u"Web サーバーから開く"_s) && !dom.contains(u"hidden"_s));
    EXPECT_EQ(dom.count(u"<script"_s), 1);
}
