#include "ui/SegmentMeasurer.h"

#include "render/Loudness.h"

#include <QFileInfo>

#include <algorithm>
#include <exception>

namespace medlark {

TSegmentMeasurer::TSegmentMeasurer(QObject* parent) : QObject(parent)
{
    debounce_.setSingleShot(true);
    debounce_.setInterval(kDebounceMs);
    connect(&debounce_, &QTimer::timeout, this, &TSegmentMeasurer::Dispatch);
}

TSegmentMeasurer::~TSegmentMeasurer()
{
    Stop();
}

void TSegmentMeasurer::Request(const std::vector<TSegmentKey>& wanted)
{
    if (quit_)
        return;
    pending_.clear();
    for (const TSegmentKey& key : wanted)
        if (std::find(pending_.begin(), pending_.end(), key) == pending_.end() && !Unmeasurable(key)
            && !KnownSegmentLoudness(key.Path, key.Start, key.End))
            pending_.push_back(key);
    {
        // What is under way goes on only while it is still wanted; the rest waits for the debounce.
        const std::lock_guard lock(mutex_);
        if (current_ && std::find(pending_.begin(), pending_.end(), *current_) == pending_.end())
            abandon_ = true;
        queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                    [&](const TSegmentKey& key) {
                                        return std::find(pending_.begin(), pending_.end(), key) == pending_.end();
                                    }),
                     queue_.end());
    }
    if (pending_.empty())
        debounce_.stop();
    else
        debounce_.start();
}

void TSegmentMeasurer::Dispatch()
{
    if (quit_ || pending_.empty())
        return;
    {
        const std::lock_guard lock(mutex_);
        queue_.clear();
        for (const TSegmentKey& key : pending_)
            if (!current_ || !(*current_ == key) || abandon_)
                queue_.push_back(key);
    }
    pending_.clear();
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
    wake_.notify_one();
}

void TSegmentMeasurer::Run()
{
    for (;;) {
        TSegmentKey key;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (quit_)
                return;
            key = queue_.front();
            queue_.pop_front();
            current_ = key;
            abandon_ = false;
        }
        bool measured = false;
        try {
            measured = MeasureSegment(key.Path, key.Start, key.End, [this] { return quit_ || abandon_; }).has_value();
        } catch (const std::exception&) {
            measured = false;   // unmeasurable, as a file that does not decode
        }
        bool givenUp = false;
        {
            const std::lock_guard lock(mutex_);
            givenUp = quit_ || abandon_;
            current_.reset();
        }
        if (givenUp)
            continue;
        // Posted to this object: dropped with it if the window has gone meanwhile.
        QMetaObject::invokeMethod(this, [this, key, measured] { Delivered(key, measured); }, Qt::QueuedConnection);
    }
}

void TSegmentMeasurer::Delivered(const TSegmentKey& key, bool measured)
{
    if (quit_)
        return;
    if (!measured) {
        const QFileInfo file(key.Path);
        failed_.erase(std::remove_if(failed_.begin(), failed_.end(), [&](const TFailed& f) { return f.Key == key; }),
                      failed_.end());
        failed_.push_back({key, file.exists() ? file.size() : -1, file.lastModified()});
    }
    Q_EMIT Measured(key);
}

bool TSegmentMeasurer::Unmeasurable(const TSegmentKey& key) const
{
    for (const TFailed& f : failed_)
        if (f.Key == key) {
            const QFileInfo file(key.Path);
            return (file.exists() ? file.size() : -1) == f.Size && file.lastModified() == f.Modified;
        }
    return false;
}

bool TSegmentMeasurer::Measuring() const
{
    const std::lock_guard lock(mutex_);
    return current_.has_value();
}

void TSegmentMeasurer::Stop()
{
    debounce_.stop();
    pending_.clear();
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

} // namespace medlark
