#include "render/BuildJob.h"

#include "model/Error.h"
#include "model/TrackList.h"
#include "outputs/TrackMarks.h"
#include "render/DecodeAhead.h"
#include "render/Mixing.h"
#include "render/WavOutput.h"

#include <QDir>
#include <QFileInfo>

#include <new>
#include <optional>

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

// Changes the extension of path's file name and puts it in folder.
QString InFolderWithExtension(const QString& folder, const QString& path, const QString& extension)
{
    return folder + QFileInfo(path).completeBaseName() + extension;
}

class TBuildJob final {
public:
    TBuildJob(const TBuildOptions& options, const TrackList& list, TBuildUser& user)
        : options_(options), list_(list), user_(user), crossfade_(SetCrossfadeTime(options.CrossfadeTime)),
          bookmark_(options.CrossfadeTime)
    {
    }

    void Run()
    {
        // Start
        if (options_.Mode == cfmMixed)
            medley_.emplace(CreateOutputFile(options_.OutputPath));
        const QString base = options_.Mode == cfmMixed ? QFileInfo(options_.OutputPath).absolutePath()
                                                       : QDir::cleanPath(options_.OutputPath);
        buildDirectory_ = NextFreeFolderName(base, options_.Today) + u'/';

        writeJson_ = options_.WriteJson || options_.WriteHtml;
        compress_ = options_.WriteHtml;
        // The publish folder exists only when something will be written into it;
        // a failure shows when the first file is saved there.
        if (compress_ || writeJson_ || options_.WriteBookmark)
            QDir().mkpath(buildDirectory_);

        const int last = list_.Count() - 1;
        user_.Send(kMsgProgress, 0, last);
        user_.Send(kMsgEncoding, compress_ ? 1 : 0, 0);

        if (options_.Mode == cfmMixed)
            RunMedley();
        else
            RunSingle();
        End();
    }

    bool Cancelled() const { return cancelMark_; }

private:
    // The next entry's segment from the decoding thread: true with the whole
    // segment in segment_ (single mode) or streamed into the mixer (medley);
    // false when the track is skipped or the build stopped (cancelMark_ then set).
    bool Take(int i, TDecodeAhead& ahead, TMedleyMixer* mixer)
    {
        const TrackEntry& entry = list_.At(i);
        TDecodeAhead::Piece piece = ahead.Next();
        if (piece.kind == TDecodeAhead::Piece::Unsupported)
            return Skip(i, user_.AskSkipUnsupported(SkipUnsupportedText(entry.SourcePath)));
        bool begun = false;
        segment_.clear();
        for (; piece.kind == TDecodeAhead::Piece::Audio; piece = ahead.Next()) {
            if (mixer == nullptr) {
                segment_.insert(segment_.end(), piece.pcm.begin(), piece.pcm.end());
            } else {
                if (!begun)
                    mixer->Begin();
                begun = true;
                mixer->Push(piece.pcm.data(), FrameCount(piece.pcm));
            }
            ahead.Recycle(std::move(piece.pcm));
        }
        if (piece.kind == TDecodeAhead::Piece::Failed)
            throw Error(piece.error);
        if (!begun && piece.result <= 0)
            return Skip(i, user_.AskSkipCutFailed(SkipCutFailedText(entry.SourcePath)));
        if (mixer != nullptr && !begun)
            mixer->Begin();
        return true;
    }

    bool Skip(int i, TAnswer answer)
    {
        if (answer == TAnswer::Yes)
            user_.Send(kMsgProgress, i, list_.Count() - 1);
        else
            cancelMark_ = true;
        return false;
    }

    void RunMedley()
    {
        OutputFile& file = *medley_;
        WriteHeader(file);
        WriteSilence(file, options_.BlankHead);
        TMedleyMixer mixer(file, crossfade_.Time, options_.EnvelopeType);
        TDecodeAhead ahead(list_);

        for (int i = 0; i <= list_.Count() - 1 && !cancelMark_; ++i) {
            // The medley's length before this segment: where the previous fade-out ends.
            const std::int64_t written = file.Length() - kWavHeaderBytes;
            if (!Take(i, ahead, &mixer))
                continue;
            const std::int64_t bytes = mixer.End();
            const TrackEntry& entry = list_.At(i);
            const TTrackMark mark{entry.SourcePath, entry.Times.StartTime, entry.Times.EndTime, written, bytes};
            if (options_.WriteBookmark)
                bookmark_.Add(mark);
            if (writeJson_)
                json_.Add(mark);
            user_.Send(kMsgProgress, i + 1, list_.Count() - 1);
        }

        // Finish: the tracks placed so far, also after a stop.
        file.Flush();
        file.SetPosition(file.Length());
        WriteSilence(file, options_.BlankTail);
        file.Flush();
        FinishWav(file);

        const QString jsonPath = InFolderWithExtension(buildDirectory_, options_.OutputPath, u".json"_s);
        if (options_.WriteBookmark)
            bookmark_.SaveToFile(InFolderWithExtension(buildDirectory_, options_.OutputPath, u".txt"_s));
        json_.Close();
        if (writeJson_)
            json_.SaveToFile(jsonPath);
    }

    void RunSingle()
    {
        const QString folder = QDir::cleanPath(options_.OutputPath);
        TDecodeAhead ahead(list_);
        for (int i = 0; i <= list_.Count() - 1; ++i) {
            if (!Take(i, ahead, nullptr)) {
                if (cancelMark_)
                    return;
                continue;
            }
            const QString destination = folder + QString::asprintf("/Track_%.02d.wav", i + 1);
            if (QFileInfo::exists(destination)) {
                const TAnswer answer = user_.AskOverwrite(OverwriteText(destination));
                if (answer == TAnswer::Cancel) {
                    cancelMark_ = true;
                    return;
                }
                if (answer == TAnswer::No) {
                    user_.Send(kMsgProgress, i, list_.Count() - 1);
                    continue;
                }
            }
            OutputFile file = CreateOutputFile(destination);
            WriteHeader(file);
            WriteSilence(file, options_.BlankHead);
            ShapeSingle(segment_, crossfade_.Bytes / kPcmFrameBytes, options_.EnvelopeType);
            file.Write(segment_.data(), ByteCount(segment_));
            WriteSilence(file, options_.BlankTail);
            FinishWav(file);
            file.Close();
            user_.Send(kMsgProgress, i, list_.Count() - 1);
        }
    }

    void End()
    {
        user_.Send(kMsgEncoding, 0, 0);
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
    QString buildDirectory_;
    bool writeJson_ = false;
    bool compress_ = false;
    bool cancelMark_ = false;
};

} // namespace

TBuildOutcome RunBuildJob(const TBuildOptions& options, const TrackList& list, TBuildUser& user)
{
    TBuildOutcome outcome;
    try {
        TBuildJob job(options, list, user);
        job.Run();
        outcome.CancelMark = job.Cancelled();
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
