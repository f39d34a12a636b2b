#include "Encoder.hpp"

#include <array>
#include <memory>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace somnara::soundgen {
namespace {

// Whole AAC frames of the loop's tail fed before its start: the encoder's start-up artefacts fall in
// them, and they are decoded but dropped. Three frames cover the artefacts, but the rate control needs
// longer to settle: with three, a drop at the loop's start was coded with five times the error of the
// same drop mid-file; with sixteen (0.37 s), about the same.
constexpr int preRollFrames = 16;
// Samples of the loop's head fed after its end, so the last frames overlap real audio.
constexpr int postRollSamples = 4096;

void check(int result, const char* what) {
    if (result < 0) {
        std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
        av_strerror(result, text.data(), text.size());
        throw std::runtime_error(std::string(what) + ": " + text.data());
    }
}

struct Output {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;

    ~Output() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format != nullptr) {
            if (format->pb != nullptr) {
                avio_closep(&format->pb);
            }
            avformat_free_context(format);
        }
    }
};

} // namespace

void writeM4a(const std::filesystem::path& file, const Stereo& loop, int rate, Codec codecKind) {
    const auto frames = static_cast<std::int64_t>(loop.left.size());
    Output out;
    const std::string path = file.string();
    check(avformat_alloc_output_context2(&out.format, nullptr, "ipod", path.c_str()),
          "cannot make the container");
    const AVCodec* codec = avcodec_find_encoder(codecKind == Codec::aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC);
    if (codec == nullptr) {
        throw std::runtime_error("no encoder for the codec");
    }
    out.codec = avcodec_alloc_context3(codec);
    out.codec->sample_rate = rate;
    out.codec->time_base = AVRational{1, rate};
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    check(av_channel_layout_copy(&out.codec->ch_layout, &stereo), "channel layout");
    out.codec->sample_fmt = codecKind == Codec::aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16P;
    if (codecKind == Codec::aac) {
        out.codec->bit_rate = aacBitRate;
        // Keep the band the sounds use (up to 17 kHz); the encoder's own choice at this rate is lower.
        out.codec->cutoff = 17'500;
    }
    if ((out.format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        out.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    check(avcodec_open2(out.codec, codec, nullptr), "cannot open the encoder");
    out.stream = avformat_new_stream(out.format, nullptr);
    check(avcodec_parameters_from_context(out.stream->codecpar, out.codec), "codec parameters");
    out.stream->time_base = AVRational{1, rate};
    check(avio_open(&out.format->pb, path.c_str(), AVIO_FLAG_WRITE), "cannot create the file");
    // The header goes before the audio: opening a file then reads its first bytes only, and a file
    // cut short keeps its header (the reader then reports the missing audio instead of no file).
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    // The edit list's durations are in the movie's time scale, milliseconds by default: the loop's
    // length would be rounded to a millisecond. In samples it is exact.
    av_dict_set_int(&muxerOptions, "movie_timescale", rate, 0);
    const int written = avformat_write_header(out.format, &muxerOptions);
    av_dict_free(&muxerOptions);
    check(written, "cannot write the header");

    const int frameSize = out.codec->frame_size > 0 ? out.codec->frame_size : 4096;
    const std::int64_t preRoll =
        codecKind == Codec::aac ? static_cast<std::int64_t>(preRollFrames) * frameSize : 0;
    const std::int64_t postRoll = codecKind == Codec::aac ? postRollSamples : 0;
    // Timestamps of the packets in loop time: the loop's first sample is at 0.
    const std::int64_t shift = -preRoll;
    const std::int64_t total = preRoll + frames + postRoll;
    out.frame = av_frame_alloc();
    out.packet = av_packet_alloc();
    bool lastWritten = false;

    auto drain = [&](bool flushing) {
        for (;;) {
            const int result = avcodec_receive_packet(out.codec, out.packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
                return;
            }
            check(result, "encoding failed");
            (void)flushing;
            const std::int64_t pts = out.packet->pts + shift;
            if (lastWritten || pts >= frames) {
                // Past the loop's end: only needed by the encoder, not by a decoder of the loop.
                av_packet_unref(out.packet);
                continue;
            }
            out.packet->pts = pts;
            out.packet->dts = out.packet->dts + shift;
            if (pts + out.packet->duration >= frames) {
                // The packet that holds the loop's last sample ends the file exactly there: the edit
                // list's duration, and so the decoded length, is the loop's.
                out.packet->duration = frames - pts;
                lastWritten = true;
            }
            out.packet->stream_index = out.stream->index;
            av_packet_rescale_ts(out.packet, AVRational{1, rate}, out.stream->time_base);
            check(av_interleaved_write_frame(out.format, out.packet), "cannot write a packet");
        }
    };

    for (std::int64_t start = 0; start < total; start += frameSize) {
        const int count = static_cast<int>(std::min<std::int64_t>(frameSize, total - start));
        av_frame_unref(out.frame);
        out.frame->nb_samples = count;
        out.frame->format = out.codec->sample_fmt;
        check(av_channel_layout_copy(&out.frame->ch_layout, &out.codec->ch_layout), "channel layout");
        out.frame->sample_rate = rate;
        check(av_frame_get_buffer(out.frame, 0), "out of memory");
        for (int channel = 0; channel < 2; ++channel) {
            const Signal& source = channel == 0 ? loop.left : loop.right;
            for (int i = 0; i < count; ++i) {
                // Position in the loop, wrapping on both sides.
                const std::int64_t at = ((start + i - preRoll) % frames + frames) % frames;
                const float value = source[static_cast<std::size_t>(at)];
                if (codecKind == Codec::aac) {
                    reinterpret_cast<float*>(out.frame->data[channel])[i] = value;
                } else {
                    reinterpret_cast<std::int16_t*>(out.frame->data[channel])[i] =
                        static_cast<std::int16_t>(std::lround(value * 32768.0F));
                }
            }
        }
        out.frame->pts = start;
        check(avcodec_send_frame(out.codec, out.frame), "cannot encode");
        drain(false);
    }
    check(avcodec_send_frame(out.codec, nullptr), "cannot flush the encoder");
    drain(true);
    check(av_write_trailer(out.format), "cannot finish the file");
}

} // namespace somnara::soundgen
