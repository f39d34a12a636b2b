#include "ITunSmpb.hpp"

#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace somnara {
namespace {

std::string describe(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

[[noreturn]] void fail(const std::filesystem::path& url, const std::string& why) {
    throw AudioFileError("Cannot read audio file \"" + url.string() + "\": " + why);
}

// FFmpeg reports every oddity of a damaged file on stderr; our errors already say what went wrong, so
// only its fatal lines are kept.
void quietenFfmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

// The largest channel count we accept: anything above is a damaged header, not a sound of ours.
constexpr int maxChannels = 16;

} // namespace

/// Demuxer, decoder and converter of one open file. Used by one thread at a time (see the class).
struct FfmpegAudioFile::Impl {
    // Immutable after construction.
    std::filesystem::path url;
    AudioFormat format;
    std::int64_t length = 0;
    bool sixteenBits = false;

    // Decoding state, owned by the thread that reads.
    AVFormatContext* demuxer = nullptr;
    AVCodecContext* decoder = nullptr;
    SwrContext* converter = nullptr;
    AVChannelLayout converterLayout{};
    int converterInputFormat = -1;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    bool flushed = false;
    std::int64_t position = 0;
    // Frames decoded but not delivered yet, deinterleaved: in the decoded frame itself when the codec
    // gives planar float (AAC does), otherwise converted into `converted`.
    std::vector<const float*> pending;
    std::vector<std::vector<float>> converted;
    std::size_t pendingOffset = 0;
    std::size_t pendingFrames = 0;

    explicit Impl(std::filesystem::path path) : url(std::move(path)) {}

    ~Impl() { close(); }

    // Frees demuxer, decoder and converter; the position stays (a later read or seek reopens).
    void release() noexcept {
        swr_free(&converter);
        av_channel_layout_uninit(&converterLayout);
        converterInputFormat = -1;
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&demuxer);
        flushed = false;
        pendingOffset = 0;
        pendingFrames = 0;
    }

    void close() noexcept {
        release();
        position = 0;
    }

    // Opens demuxer and decoder at the start of the file. Cheap: reads the header, decodes nothing.
    void openDecoder() {
        int result = avformat_open_input(&demuxer, url.c_str(), nullptr, nullptr);
        if (result < 0) {
            fail(url, "not a readable audio container (" + describe(result) + ")");
        }
        const auto* firstAudio = [&]() -> const AVStream* {
            for (unsigned i = 0; i < demuxer->nb_streams; ++i) {
                if (demuxer->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                    return demuxer->streams[i];
                }
            }
            return nullptr;
        }();
        // Containers such as MP4 state rate and channels in their header; only raw streams need probing.
        if (firstAudio == nullptr || firstAudio->codecpar->sample_rate <= 0 ||
            firstAudio->codecpar->ch_layout.nb_channels <= 0) {
            result = avformat_find_stream_info(demuxer, nullptr);
            if (result < 0) {
                fail(url, "cannot read the stream information (" + describe(result) + ")");
            }
        }
        const AVCodec* codec = nullptr;
        streamIndex = av_find_best_stream(demuxer, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (streamIndex < 0 || codec == nullptr) {
            fail(url, streamIndex == AVERROR_DECODER_NOT_FOUND ? "no decoder for its audio"
                                                               : "the file holds no audio stream");
        }
        const AVStream* stream = demuxer->streams[streamIndex];
        for (unsigned i = 0; i < demuxer->nb_streams; ++i) {
            if (static_cast<int>(i) != streamIndex) {
                demuxer->streams[i]->discard = AVDISCARD_ALL;
            }
        }
        decoder = avcodec_alloc_context3(codec);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (decoder == nullptr || packet == nullptr || frame == nullptr) {
            fail(url, "out of memory");
        }
        result = avcodec_parameters_to_context(decoder, stream->codecpar);
        if (result < 0) {
            fail(url, "bad codec parameters (" + describe(result) + ")");
        }
        decoder->pkt_timebase = stream->time_base;
        result = avcodec_open2(decoder, codec, nullptr);
        if (result < 0) {
            fail(url, "cannot open the decoder (" + describe(result) + ")");
        }
        if (decoder->sample_rate <= 0 || decoder->ch_layout.nb_channels <= 0 ||
            decoder->ch_layout.nb_channels > maxChannels) {
            fail(url, "unusable audio format (" + std::to_string(decoder->sample_rate) + " Hz, " +
                          std::to_string(decoder->ch_layout.nb_channels) + " channels)");
        }
    }

    // The exact length: an "iTunSMPB" tag's length field when present (encoders that write it put the
    // true count there), otherwise the stream's duration, which for MP4 is the edit list's.
    std::optional<std::int64_t> storedLength() const {
        const AVStream* stream = demuxer->streams[streamIndex];
        for (const AVDictionary* metadata : {demuxer->metadata, stream->metadata}) {
            const AVDictionaryEntry* tag = av_dict_get(metadata, "iTunSMPB", nullptr, 0);
            if (tag != nullptr) {
                if (const auto smpb = ffmpeg::parseITunSmpb(tag->value); smpb && smpb->length > 0) {
                    return smpb->length;
                }
            }
        }
        if (stream->duration != AV_NOPTS_VALUE && stream->duration >= 0 && stream->time_base.num > 0 &&
            stream->time_base.den > 0) {
            return av_rescale_q(stream->duration, stream->time_base, AVRational{1, decoder->sample_rate});
        }
        return std::nullopt;
    }

    void configureConverter(const AVFrame& decoded) {
        if (converter != nullptr && converterInputFormat == decoded.format &&
            av_channel_layout_compare(&converterLayout, &decoded.ch_layout) == 0) {
            return;
        }
        swr_free(&converter);
        av_channel_layout_uninit(&converterLayout);
        if (decoded.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&converterLayout, decoded.ch_layout.nb_channels);
        } else if (av_channel_layout_copy(&converterLayout, &decoded.ch_layout) < 0) {
            fail(url, "out of memory");
        }
        const int result = swr_alloc_set_opts2(
            &converter, &converterLayout, AV_SAMPLE_FMT_FLTP, decoded.sample_rate, &converterLayout,
            static_cast<AVSampleFormat>(decoded.format), decoded.sample_rate, 0, nullptr);
        if (result < 0 || swr_init(converter) < 0) {
            swr_free(&converter);
            fail(url, "cannot convert its sample format");
        }
        converterInputFormat = decoded.format;
    }

    // Points `pending` at the decoded frame's samples, converting them first unless they are planar
    // float already. The frame stays referenced until the next one is received.
    void takeFrame() {
        if (frame->sample_rate != decoder->sample_rate ||
            frame->ch_layout.nb_channels != format.channelCount) {
            fail(url, "the audio format changes inside the file");
        }
        pendingOffset = 0;
        if (frame->format == AV_SAMPLE_FMT_FLTP) {
            for (std::size_t channel = 0; channel < pending.size(); ++channel) {
                pending[channel] = reinterpret_cast<const float*>(frame->extended_data[channel]);
            }
            pendingFrames = static_cast<std::size_t>(frame->nb_samples);
            return;
        }
        configureConverter(*frame);
        const auto frames = static_cast<std::size_t>(frame->nb_samples);
        std::array<std::uint8_t*, maxChannels> outputs{};
        for (std::size_t channel = 0; channel < pending.size(); ++channel) {
            converted[channel].resize(frames);
            outputs[channel] = reinterpret_cast<std::uint8_t*>(converted[channel].data());
            pending[channel] = converted[channel].data();
        }
        const int count =
            swr_convert(converter, outputs.data(), frame->nb_samples,
                        const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (count < 0) {
            fail(url, "cannot convert its samples (" + describe(count) + ")");
        }
        pendingFrames = static_cast<std::size_t>(count);
    }

    // Decodes the next frame into `pending`; false at the end of the stream.
    bool decodeNext() {
        for (;;) {
            int result = avcodec_receive_frame(decoder, frame);
            if (result == 0) {
                takeFrame();
                if (pendingFrames > 0) {
                    return true;
                }
                continue;
            }
            if (result == AVERROR_EOF) {
                return false;
            }
            if (result != AVERROR(EAGAIN)) {
                fail(url, "damaged audio data (" + describe(result) + ")");
            }
            if (flushed) {
                return false;
            }
            result = av_read_frame(demuxer, packet);
            if (result == AVERROR_EOF) {
                avcodec_send_packet(decoder, nullptr);
                flushed = true;
                continue;
            }
            if (result < 0) {
                fail(url, "cannot read (" + describe(result) + ")");
            }
            if (packet->stream_index != streamIndex) {
                av_packet_unref(packet);
                continue;
            }
            result = avcodec_send_packet(decoder, packet);
            av_packet_unref(packet);
            if (result < 0 && result != AVERROR(EAGAIN)) {
                fail(url, "damaged audio data (" + describe(result) + ")");
            }
        }
    }

    // Delivers up to `frames` frames, into `channels` when given, otherwise dropping them.
    std::size_t deliver(float* const* channels, std::size_t frames) {
        if (demuxer == nullptr && position < length) {
            openDecoder();
        }
        std::size_t written = 0;
        while (written < frames && position < length) {
            if (pendingOffset == pendingFrames) {
                if (!decodeNext()) {
                    fail(url, "the audio ends after " + std::to_string(position) + " of " +
                                  std::to_string(length) + " frames");
                }
            }
            const auto count = std::min({frames - written, pendingFrames - pendingOffset,
                                         static_cast<std::size_t>(length - position)});
            if (channels != nullptr) {
                for (std::size_t channel = 0; channel < pending.size(); ++channel) {
                    std::memcpy(channels[channel] + written, pending[channel] + pendingOffset,
                                count * sizeof(float));
                }
            }
            pendingOffset += count;
            written += count;
            position += static_cast<std::int64_t>(count);
        }
        // Read to the end (the engine keeps the decoded samples): nothing of the decoder is needed
        // until a seek starts again.
        if (position == length && channels != nullptr) {
            release();
        }
        return written;
    }

    // Counts the frames by decoding the whole file: only for files that do not store their length.
    std::int64_t countFrames() {
        std::int64_t frames = 0;
        while (decodeNext()) {
            frames += static_cast<std::int64_t>(pendingFrames);
            pendingOffset = pendingFrames;
        }
        return frames;
    }

    void rewind() {
        close();
        openDecoder();
    }
};

FfmpegAudioFile::FfmpegAudioFile(std::filesystem::path url) : impl_(std::make_unique<Impl>(std::move(url))) {
    quietenFfmpeg();
    const auto& path = impl_->url;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        fail(path, "no such file");
    }
    if (!std::filesystem::is_regular_file(status)) {
        fail(path, "not a regular file");
    }
    const auto size = std::filesystem::file_size(path, error);
    if (error) {
        fail(path, error.message());
    }
    if (size == 0) {
        fail(path, "the file is empty");
    }
    impl_->openDecoder();
    impl_->format =
        AudioFormat{static_cast<double>(impl_->decoder->sample_rate), impl_->decoder->ch_layout.nb_channels};
    impl_->pending.resize(static_cast<std::size_t>(impl_->format.channelCount));
    impl_->converted.resize(impl_->pending.size());
    // A lossy codec's output is no more exact than 16 bits; a lossless one keeps its source's depth.
    const AVCodecDescriptor* codec = avcodec_descriptor_get(impl_->decoder->codec_id);
    const int bits = impl_->decoder->bits_per_raw_sample > 0
                         ? impl_->decoder->bits_per_raw_sample
                         : 8 * av_get_bytes_per_sample(impl_->decoder->sample_fmt);
    impl_->sixteenBits =
        (codec != nullptr && (codec->props & AV_CODEC_PROP_LOSSY) != 0) || (bits > 0 && bits <= 16);
    if (const auto stored = impl_->storedLength()) {
        impl_->length = *stored;
    } else {
        impl_->length = impl_->countFrames();
    }
    // The player opens every sound's file to learn its format, and decodes only those that play: an
    // idle file keeps no demuxer or decoder, and the first read opens them again.
    impl_->close();
}

FfmpegAudioFile::~FfmpegAudioFile() = default;

const std::filesystem::path& FfmpegAudioFile::url() const noexcept {
    return impl_->url;
}

AudioFormat FfmpegAudioFile::processingFormat() const noexcept {
    return impl_->format;
}

std::int64_t FfmpegAudioFile::length() const noexcept {
    return impl_->length;
}

bool FfmpegAudioFile::fitsSixteenBits() const noexcept {
    return impl_->sixteenBits;
}

std::int64_t FfmpegAudioFile::framePosition() const noexcept {
    return impl_->position;
}

void FfmpegAudioFile::seek(std::int64_t frame) {
    if (frame < 0 || frame > impl_->length) {
        throw AudioFileError("Cannot seek to frame " + std::to_string(frame) + " of audio file \"" +
                             impl_->url.string() + "\", which has " + std::to_string(impl_->length) +
                             " frames");
    }
    // Codecs with overlapping frames (AAC) decode the first frames after a container seek wrongly, so
    // an exact seek starts from the top and decodes forward; the sounds are short and this is rare.
    if (frame < impl_->position || impl_->demuxer == nullptr) {
        impl_->rewind();
    }
    impl_->deliver(nullptr, static_cast<std::size_t>(frame - impl_->position));
}

std::size_t FfmpegAudioFile::read(float* const* channels, std::size_t frames) {
    return impl_->deliver(channels, frames);
}

std::unique_ptr<AudioFile> openAudioFile(const std::filesystem::path& url) {
    return std::make_unique<FfmpegAudioFile>(url);
}

} // namespace somnara
