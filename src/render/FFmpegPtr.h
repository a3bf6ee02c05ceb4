#pragma once
// Single owners for FFmpeg objects. This is the only place that frees them.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace medlark::ff {

struct FormatCloser { void operator()(AVFormatContext* p) const { avformat_close_input(&p); } };
struct CodecFreer { void operator()(AVCodecContext* p) const { avcodec_free_context(&p); } };
struct FrameFreer { void operator()(AVFrame* p) const { av_frame_free(&p); } };
struct PacketFreer { void operator()(AVPacket* p) const { av_packet_free(&p); } };
struct SwrFreer { void operator()(SwrContext* p) const { swr_free(&p); } };

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

// An option dictionary that is freed with its scope.
class Dictionary final {
public:
    Dictionary() = default;
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    ~Dictionary() { av_dict_free(&dict_); }

    void Set(const char* key, const char* value) { av_dict_set(&dict_, key, value, 0); }
    AVDictionary** Address() { return &dict_; }

private:
    AVDictionary* dict_ = nullptr;
};

} // namespace medlark::ff
