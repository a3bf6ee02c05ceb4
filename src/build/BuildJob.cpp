#include "build/BuildJob.h"

#include "encode/CommandLine.h"
#include "encode/EncoderDefinitions.h"
#include "encode/PushEncoder.h"
#include "model/Error.h"
#include "model/NumberText.h"
#include "model/TrackList.h"
#include "outputs/Chapters.h"
#include "outputs/HtmlBuilder.h"
#include "outputs/TextFile.h"
#include "outputs/TrackMarks.h"
#include "render/DecodeAhead.h"
#include "render/Loudness.h"
#include "render/Mixing.h"
#include "render/SegmentLevel.h"
#include "render/StreamMeter.h"
#include "render/WavOutput.h"
#include "video/MedleyVideo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include <sys/stat.h>

namespace medlark {

using namespace Qt::StringLiterals;

QString SkipUnsupportedText(const QString& sourcePath)
{
    return u"対応していない形式です: "_s + QFileInfo(sourcePath).fileName() + u"\r\nこのトラックを飛ばして続けますか？"_s;
}

QString SkipCutFailedText(const QString& sourcePath)
{
    return u"音源から切り出しできませんました: "_s + QFileInfo(sourcePath).fileName()
         + u"\r\nこのトラックを飛ばして続けますか？"_s;
}

QString OverwriteText(const QString& destination)
{
    return QFileInfo(destination).fileName() + u"は既に存在します。上書きしますか？"_s;
}

QString FailedCopiesText(const TBuildOutcome& outcome)
{
    if (outcome.FailedCopies.empty())
        return {};
    QString text = u"次の圧縮ファイルを作成できませんでした:"_s;
    for (const TCopyFailure& failure : outcome.FailedCopies)
        text += u"\n・"_s + QFileInfo(failure.Dest).fileName() + u": "_s + failure.Reason;
    if (outcome.SheetPublished)
        text += u"\nサウンドシートは書き出しましたが、これらのファイルがないため、その曲は再生できません。"_s;
    return text;
}

QString MedleyLoudnessText(const TBuildOutcome& outcome)
{
    if (!outcome.MedleyLoudness)
        return {};
    const TLoudness& l = *outcome.MedleyLoudness;
    return u"メドレーの音量: "_s + LoudnessText(l) + u"、トゥルーピーク "_s + TruePeakText(l.TruePeak);
}

QString CompletionDetails(const TBuildOutcome& outcome)
{
    QStringList parts;
    if (const QString loudness = MedleyLoudnessText(outcome); !loudness.isEmpty())
        parts << loudness;
    if (!outcome.Notes.isEmpty())
        parts << outcome.Notes.join(u'\n');
    if (const QString failed = FailedCopiesText(outcome); !failed.isEmpty())
        parts << failed;
    return parts.join(u"\n\n"_s);
}

QString NextFreeFolderName(const QString& baseFolder, const QDate& date)
{
    const QString stem = baseFolder + u"/publish_"_s + date.toString(u"yyMMdd"_s);
    for (long i = 1;; ++i) {
        const QString candidate = stem + QString::asprintf("_%.02ld", i);
        if (!QFileInfo(candidate).isDir())
            return candidate;
    }
}

namespace {

// The same file, also under another name (a link, "..", a second slash).
bool SameFile(const QString& a, const QString& b)
{
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Refuses, before anything is written, an output that would replace one of the
// build's inputs or that is not a file at all (a folder, a pipe, a device).
void CheckTarget(const QString& target, const TrackList& list, const QStringList& protectedPaths)
{
    struct stat st {};
    if (::stat(QFile::encodeName(target).constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            throw Error(u"出力先 \""_s + target + u"\" は通常のファイルではないため、書き出せません。"_s);
        for (int i = 0; i < list.Count(); ++i)
            if (SameFile(target, list.At(i).SourcePath))
                throw Error(u"出力先 \""_s + target + QStringLiteral("\" はトラック %1 の音源です。音源を上書きしないよう、別の名前を選んでください。").arg(i + 1));
        for (const QString& path : protectedPaths)
            if (SameFile(target, path))
                throw Error(u"出力先 \""_s + target + u"\" はプロジェクトファイルです。別の名前を選んでください。"_s);
    }
}

// Creates the publish folder (and the folders above it), or says why it cannot.
void MakeFolder(const QString& folder)
{
    if (QDir().mkpath(folder) && QFileInfo(folder).isDir())
        return;
    // The system's reason, from the deepest folder that could not be made.
    QString missing = QDir::cleanPath(folder);
    while (!QFileInfo(QFileInfo(missing).absolutePath()).isDir() && missing != QFileInfo(missing).absolutePath())
        missing = QFileInfo(missing).absolutePath();
    const int made = ::mkdir(QFile::encodeName(missing).constData(), 0777);
    const QString reason = QString::fromLocal8Bit(std::strerror(made == 0 ? EEXIST : errno));
    throw Error(u"フォルダー \""_s + folder + u"\" を作成できません。"_s + reason);
}

// Changes the extension of path's file name and puts it in folder.
QString InFolderWithExtension(const QString& folder, const QString& path, const QString& extension)
{
    return folder + QFileInfo(path).completeBaseName() + extension;
}

class TBuildJob final {
public:
    TBuildJob(const TBuildOptions& options, const TrackList& list, TBuildUser& user)
        : options_(options), list_(list), user_(user), crossfade_(SetCrossfadeTime(options.Medley.CrossfadeTime)),
          bookmark_(options.Medley.CrossfadeTime)
    {
    }

    void Run()
    {
        // Start: nothing is written before every output is known to be safe to write.
        if (options_.Mode == cfmMixed) {
            CheckTarget(options_.OutputPath, list_, options_.ProtectedPaths);
        } else {
            for (int i = 0; i < list_.Count(); ++i)
                CheckTarget(TrackFile(i), list_, options_.ProtectedPaths);
        }
        const QString base = options_.Mode == cfmMixed ? QFileInfo(options_.OutputPath).absolutePath()
                                                       : QDir::cleanPath(options_.OutputPath);
        const QString buildDirectory = NextFreeFolderName(base, options_.Today);

        encoder_ = std::make_unique<TPushEncoder>(
            options_.AddonDir.isEmpty() ? AddonFolder() : options_.AddonDir, QString::fromLatin1(kEncoderDefinitionFile));
        // Made in every build: a missing header ends any build here.
        html_ = std::make_unique<THTMLBuilder>(options_.TemplateDir.isEmpty() ? TemplateFolder() : options_.TemplateDir,
                                               buildDirectory, options_.Mode);

        encoderExe_ = QString::fromLatin1(kDefaultEncoder);
        extension_ = QString::fromLatin1(kDefaultExtension);
        quality_ = QString::fromLatin1(kDefaultQuality);
        if (options_.EncoderTag >= 0) {
            compress_ = true;
            encoderExe_ = encoder_->GetEncoderExe(options_.EncoderTag);
            extension_ = encoder_->GetEncoderExtension(encoderExe_);
            quality_ = options_.Quality;
        }
        writeJson_ = options_.WriteJson;
        if (options_.WriteHtml)
            compress_ = writeJson_ = true;
        video_ = DrawsVideoPictures(options_);
        chapters_ = options_.Mode == cfmMixed && (video_ || options_.WriteChapters);
        // The medley is written under a temporary name and replaces the file
        // of its name only once complete.
        if (options_.Mode == cfmMixed)
            medley_.emplace(CreateReplacingFile(options_.OutputPath));
        // The publish folder exists only when something will be written into
        // it; made before any audio, so that a folder that cannot be made ends
        // the build at once.
        if (compress_ || writeJson_ || options_.WriteBookmark || chapters_)
            MakeFolder(buildDirectory);

        const int last = list_.Count() - 1;
        user_.Progress(0, last);
        user_.Encoding(compress_ || video_);

        if (options_.Mode == cfmMixed)
            RunMedley();
        else
            RunSingle();
        End();
    }

    bool Cancelled() const { return cancelMark_; }
    const std::vector<TCopyFailure>& FailedCopies() const { return failedCopies_; }
    bool SheetPublished() const { return sheetPublished_; }
    const QStringList& Notes() const { return notes_; }
    const std::optional<TLoudness>& MedleyLoudness() const { return medleyLoudness_; }

private:
    QString TrackFile(int i) const
    {
        return QDir::cleanPath(options_.OutputPath) + QString::asprintf("/Track_%.02d.wav", i + 1);
    }

    // The next entry's segment from the decoding thread, levelled: true with the
    // whole segment in segment_ (single mode) or streamed into the mixer
    // (medley); false when the track is skipped or the build stopped
    // (cancelMark_ then set). With matching on, the segment is held until its
    // loudness, measured on the decoding thread, arrives with its end.
    bool Take(int i, TDecodeAhead& ahead, TMedleyMixer* mixer)
    {
        const TrackEntry& entry = list_.At(i);
        TDecodeAhead::Piece piece = ahead.Next();
        if (piece.kind == TDecodeAhead::Piece::Unsupported)
            return Skip(i, user_.AskSkipUnsupported(SkipUnsupportedText(entry.SourcePath)));
        const bool hold = NeedsLoudness(options_.Medley.Loudness);
        std::optional<TLeveller> leveller;
        if (!hold)
            leveller.emplace(LevelOf(options_.Medley.Loudness, entry.Times.Gain, std::nullopt));
        bool begun = false;
        segment_.clear();
        auto level = [&](const std::int16_t* samples, std::int64_t frames, bool last) {
            levelled_.clear();
            if (frames > 0)
                leveller->Push(samples, frames, levelled_);
            if (last)
                leveller->Finish(levelled_);
            if (mixer == nullptr) {
                segment_.insert(segment_.end(), levelled_.begin(), levelled_.end());
                return;
            }
            if (!begun)
                mixer->Begin();
            begun = true;
            if (!levelled_.empty())
                mixer->Push(levelled_.data(), FrameCount(levelled_));
        };
        bool any = false;
        for (; piece.kind == TDecodeAhead::Piece::Audio; piece = ahead.Next()) {
            any = true;
            if (hold) {
                held_.push_back(std::move(piece.pcm));
            } else {
                level(piece.pcm.data(), FrameCount(piece.pcm), false);
                ahead.Recycle(std::move(piece.pcm));
            }
        }
        if (piece.kind == TDecodeAhead::Piece::Failed)
            throw Error(piece.error);
        if (!any && piece.result <= 0)
            return Skip(i, user_.AskSkipCutFailed(SkipCutFailedText(entry.SourcePath)));
        loudness_ = piece.loudness;
        if (hold) {
            leveller.emplace(LevelOf(options_.Medley.Loudness, entry.Times.Gain, loudness_));
            for (PcmBlock& pcm : held_) {
                level(pcm.data(), FrameCount(pcm), false);
                ahead.Recycle(std::move(pcm));
            }
            held_.clear();
            level(nullptr, 0, true);
        } else {
            level(nullptr, 0, true);
        }
        level_ = leveller->Level();
        if (mixer != nullptr && !begun)
            mixer->Begin();
        return true;
    }

    bool Skip(int i, TSkipAnswer answer)
    {
        if (answer == TSkipAnswer::Skip)
            user_.Progress(i, list_.Count() - 1);
        else
            cancelMark_ = true;
        return false;
    }

    void RunMedley()
    {
        OutputFile& file = *medley_;
        WriteHeader(file);
        WriteSilence(file, options_.Medley.BlankHead);
        TMedleyMixer mixer(file, crossfade_, options_.Medley.Envelope);
        TDecodeAhead ahead(list_, NeedsLoudness(options_.Medley.Loudness));
        // With matching, the medley's own loudness, from its frames as they
        // become final (those before the write position: later segments only
        // mix in after it), measured beside the build.
        std::optional<TStreamMeter> meter;
        if (options_.Medley.Loudness.Match)
            meter.emplace();
        std::int64_t metered = file.Position();
        auto measureUpTo = [&](std::int64_t end) {
            for (; meter && metered < end;) {
                const std::int64_t bytes = std::min<std::int64_t>(end - metered, kMeterPieceBytes);
                meterPiece_.resize(static_cast<size_t>(bytes / 2));
                const std::int64_t got = ReadAt(file, metered, meterPiece_.data(), bytes);
                if (got <= 0)
                    break;
                meter->Add(meterPiece_.data(), got / kPcmFrameBytes);
                metered += got;
            }
        };

        for (int i = 0; i <= list_.Count() - 1 && !cancelMark_ && !Stopping(); ++i) {
            // The medley's length before this segment (where the previous
            // fade-out ends), and where the segment is placed (where it begins).
            const std::int64_t written = file.Length() - kWavHeaderBytes;
            const std::int64_t placed = file.Position() - kWavHeaderBytes;
            if (!Take(i, ahead, &mixer))
                continue;
            const std::int64_t bytes = mixer.End();
            if (bytes == 0) {
                // Nothing to hear (in and out point within one frame): as a skipped track.
                user_.Progress(i + 1, list_.Count() - 1);
                continue;
            }
            measureUpTo(file.Position());
            const TrackEntry& entry = list_.At(i);
            TTrackMark mark{entry.SourcePath, entry.Times.StartTime, entry.Times.EndTime, written, bytes, placed};
            mark.Levelled = options_.Medley.Loudness.Match || !level_.Identity();
            mark.GainDb = level_.GainDb;
            if (loudness_)
                mark.Loudness = loudness_->Integrated;
            if (options_.WriteBookmark)
                bookmark_.Add(mark);
            if (writeJson_)
                json_.Add(mark);
            marks_.push_back(mark);
            user_.Progress(i + 1, list_.Count() - 1);
        }

        // Finish: the tracks placed so far, also after a stop.
        file.Flush();
        measureUpTo(file.Length());
        if (meter && !marks_.empty())
            medleyLoudness_ = meter->Result();
        file.SetPosition(file.Length());
        WriteSilence(file, options_.Medley.BlankTail);
        file.Flush();
        FinishWav(file);
        const std::int64_t medleyBytes = file.Length() - kWavHeaderBytes;
        file.Commit();   // complete, also after a stop: it takes the name now, closed
        Stopping();      // a stop asked for meanwhile encodes and publishes nothing

        const QString folder = html_->BuildDirectory();
        const QString jsonPath = InFolderWithExtension(folder, options_.OutputPath, u".json"_s);
        const QString jsonReference = QDir(folder).relativeFilePath(jsonPath).replace(u'\\', u'/');
        json_.Close();
        const std::vector<TChapter> chapters = MedleyChapters(marks_, options_.Medley.CrossfadeTime, medleyBytes);
        if (compress_ && !stopped_) {
            // The chapters for the compressed copy, written before it is made.
            const QString metadataPath = InFolderWithExtension(folder, options_.OutputPath, u".ffmetadata"_s);
            SaveFfMetadata(chapters, metadataPath);
            const QString dest = InFolderWithExtension(folder, options_.OutputPath, extension_);
            encoder_->Add(options_.OutputPath, dest, encoderExe_, quality_,
                          {{u"TITLE"_s, QuotedTitle(TrackTitle(options_.OutputPath))},
                           {u"CHAPTERS"_s, QuoteArgument(metadataPath)}});
            // The block names the medley and carries the track map itself, so
            // that the page lists the tracks when opened as a file too.
            if (options_.WriteHtml)
                html_->Write(TrackTitle(options_.OutputPath), dest,
                             {{u"OFFSET"_s, FormatNumber(options_.Medley.CrossfadeTime)},
                              {u"JSON"_s, jsonReference},
                              {u"TRACKS"_s, json_.Lines().join(QString())}});
        }
        if (options_.WriteBookmark)
            bookmark_.SaveToFile(InFolderWithExtension(folder, options_.OutputPath, u".txt"_s));
        if (writeJson_)
            json_.SaveToFile(jsonPath);
        if (chapters_) {
            SaveUtf8Lines(ChapterLines(chapters),
                          InFolderWithExtension(folder, options_.OutputPath, u".chapters.txt"_s));
            if (const QStringList breaks = ChapterRuleBreaks(chapters); !breaks.isEmpty())
                notes_ << u"チャプターが動画サイトの規則に合いません:"_s << PrefixEach(breaks, u"・"_s);
        }
        if (video_ && !stopped_)
            MakeVideo(chapters, static_cast<double>(medleyBytes / static_cast<long double>(kPcmBytesPerSecond)),
                      folder);
    }

    static QStringList PrefixEach(QStringList lines, const QString& prefix)
    {
        for (QString& line : lines)
            line.prepend(prefix);
        return lines;
    }

    // Draws the video's pictures and queues ffmpeg after the compressed copy.
    void MakeVideo(const std::vector<TChapter>& chapters, double seconds, const QString& folder)
    {
        const QString title = TrackTitle(options_.OutputPath);
        const QString dest = InFolderWithExtension(folder, options_.OutputPath, u".mp4"_s);
        const TVideoPictures pictures(title, chapters, options_.CoverImage);
        if (!pictures.CoverProblem().isEmpty())
            notes_ << u"カバー画像 \""_s + QFileInfo(options_.CoverImage).fileName() + u"\" を読み込めません ("_s
                          + pictures.CoverProblem() + u")。動画にはタイトルのパネルを使いました。"_s;
        const QString ffmpeg = QStandardPaths::findExecutable(u"ffmpeg"_s);
        if (ffmpeg.isEmpty()) {
            failedCopies_.push_back({dest, u"ffmpeg が見つかりません (PATH にありません)。"_s});
            return;
        }
        // Pictures that cannot be written fail the video alone, like a copy.
        videoWork_.emplace(QDir::tempPath() + u"/medlark-video-XXXXXX"_s);
        if (!videoWork_->isValid()) {
            failedCopies_.push_back({dest, CreateFileError(videoWork_->path(), videoWork_->errorString()).Message()});
            return;
        }
        const TVideoPlan plan = PlanVideo(chapters, seconds);
        QString list;
        try {
            list = pictures.Write(videoWork_->path(), plan, [this] { return Stopping(); });
        } catch (const Error& e) {
            failedCopies_.push_back({dest, e.Message()});
            return;
        }
        if (list.isEmpty())
            return;   // stopped while drawing
        const QString partial = dest + u".part"_s;
        const TVideoCommands commands =
            VideoCommands(ffmpeg, list, options_.OutputPath, title, plan, videoWork_->path(), partial);
        encoder_->AddTool(commands.Together, commands.Join, partial, dest);
    }

    void RunSingle()
    {
        TDecodeAhead ahead(list_, NeedsLoudness(options_.Medley.Loudness));
        for (int i = 0; i <= list_.Count() - 1; ++i) {
            if (Stopping())
                return;
            if (!Take(i, ahead, nullptr)) {
                if (cancelMark_)
                    return;
                continue;
            }
            const QString destination = TrackFile(i);
            if (QFileInfo::exists(destination)) {
                const TOverwriteAnswer answer = user_.AskOverwrite(OverwriteText(destination));
                if (answer == TOverwriteAnswer::Stop) {
                    cancelMark_ = true;
                    return;
                }
                if (answer == TOverwriteAnswer::Skip) {
                    user_.Progress(i, list_.Count() - 1);
                    continue;
                }
            }
            // A Yes replaces the old file only once the new one is complete.
            OutputFile file = CreateReplacingFile(destination);
            WriteHeader(file);
            WriteSilence(file, options_.Medley.BlankHead);
            ShapeSingle(segment_, crossfade_.Frames(), options_.Medley.Envelope);
            file.Write(segment_.data(), ByteCount(segment_));
            WriteSilence(file, options_.Medley.BlankTail);
            FinishWav(file);
            file.Commit();
            if (compress_ && !Stopping()) {
                const QString title = TrackTitle(list_.At(i).SourcePath);
                const QString dest = html_->BuildDirectory() + QString::asprintf("Track_%.02d", i + 1) + extension_;
                // The title between quotes, its own quotes doubled, so that it stays one argument.
                encoder_->Add(destination, dest, encoderExe_, quality_, {{u"TITLE"_s, QuotedTitle(title)}});
                if (options_.WriteHtml)
                    html_->Write(title, dest, {});
            }
            user_.Progress(i, list_.Count() - 1);
        }
    }

    // True once the user asked to stop; the build then ends as stopped.
    bool Stopping()
    {
        if (!stopped_ && user_.StopRequested()) {
            stopped_ = true;
            cancelMark_ = true;
        }
        return stopped_;
    }

    void End()
    {
        while (encoder_->QueueCount() > 0 && !Stopping())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (stopped_)
            encoder_->Terminate();   // the running encoder is stopped, nothing more is encoded
        user_.Encoding(false);
        for (const TEncodeFailure& failure : encoder_->Failures())
            failedCopies_.push_back({failure.Dest, failure.Reason});
        if (options_.WriteHtml && !stopped_) {
            html_->Publish(u"soundsheet.html"_s);
            sheetPublished_ = true;
        }
        encoder_->Terminate();
        medley_.reset();
    }

    const TBuildOptions& options_;
    const TrackList& list_;
    TBuildUser& user_;
    const TCrossfade crossfade_;
    PcmBlock segment_;
    TBookmarkText bookmark_;
    TTrackMapJson json_;
    std::optional<OutputFile> medley_;
    // The video's work folder (its pictures): declared before the encode
    // queue, which reads them, so that they outlive it.
    std::optional<QTemporaryDir> videoWork_;
    std::unique_ptr<TPushEncoder> encoder_;
    std::unique_ptr<THTMLBuilder> html_;
    QString encoderExe_;
    QString extension_;
    QString quality_;
    bool writeJson_ = false;
    bool compress_ = false;
    bool cancelMark_ = false;
    bool stopped_ = false;
    std::vector<TCopyFailure> failedCopies_;
    bool sheetPublished_ = false;
    bool video_ = false;
    bool chapters_ = false;
    std::vector<TTrackMark> marks_;
    QStringList notes_;
    // The last segment taken: its measured loudness and how it was levelled.
    std::optional<TLoudness> loudness_;
    TSegmentLevel level_;
    std::vector<PcmBlock> held_;   // a segment's pieces waiting for its loudness
    PcmBlock levelled_;
    static constexpr std::int64_t kMeterPieceBytes = 1 << 20;
    PcmBlock meterPiece_;
    std::optional<TLoudness> medleyLoudness_;
};

} // namespace

TBuildOutcome RunBuildJob(const TBuildOptions& options, const TrackList& list, TBuildUser& user)
{
    TBuildOutcome outcome;
    try {
        TBuildJob job(options, list, user);
        job.Run();
        outcome.CancelMark = job.Cancelled();
        outcome.FailedCopies = job.FailedCopies();
        outcome.SheetPublished = job.SheetPublished();
        outcome.Notes = job.Notes();
        outcome.MedleyLoudness = job.MedleyLoudness();
    } catch (const Error& e) {
        outcome.ThreadError = e.Message();
    } catch (const std::bad_alloc&) {
        outcome.ThreadError = u"メモリが不足しています"_s;
    } catch (const std::exception& e) {
        outcome.ThreadError = QString::fromLocal8Bit(e.what());
    }
    return outcome;
}

} // namespace medlark
