#include "mp3/LameEncLibrary.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace lameenc {
namespace {

// The rates an MP3 file can have.
constexpr uint32_t kMP3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// PCM rates the resampler is trusted with.
constexpr uint32_t kMinPCMRate = 8000;
constexpr uint32_t kMaxPCMRate = 192000;

bool IsMP3Rate(uint32_t rate)
{
    return std::find(std::begin(kMP3Rates), std::end(kMP3Rates), rate) != std::end(kMP3Rates);
}

// The four quality choices onto the encoder's quality levels (0 best and slowest .. 9 worst):
//   normal -> 3, the encoder's own default;
//   low    -> 7, its fast mode;
//   high   -> 2, its recommended high-quality mode;
//   voice  -> 5, a quicker search that speech does not miss.
// An unknown value is taken as normal rather than refusing the stream: the options dialog
// can store -1 when its list has nothing selected.
int LameQualityLevel(int32_t quality)
{
    switch (quality) {
    case BE_QUALITY_LOW:
        return 7;
    case BE_QUALITY_HIGH:
        return 2;
    case BE_QUALITY_VOICE:
        return 5;
    default:
        return 3;
    }
}

MPEG_mode LameMode(int32_t mode)
{
    switch (mode) {
    case BE_MP3_MODE_JSTEREO:
        return JOINT_STEREO;
    case BE_MP3_MODE_DUALCHANNEL:
        return DUAL_CHANNEL;
    case BE_MP3_MODE_MONO:
        return MONO;
    default:
        return STEREO;
    }
}

struct TLameFlagsDeleter
{
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

struct TStream
{
    std::unique_ptr<lame_global_flags, TLameFlagsDeleter> Flags;
    uint32_t PCMChannels = 2;
    uint32_t SamplesPerChunk = 0;
    uint32_t BufferSize = 0;
    bool Flushed = false;
};

class TLameEncLibrary final : public ILameEncLibrary
{
public:
    void beVersion(BE_VERSION* version) override;
    BE_ERR beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                        HBE_STREAM* stream) override;
    BE_ERR beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm, uint8_t* output,
                         uint32_t* bytes) override;
    BE_ERR beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* bytes) override;
    BE_ERR beCloseStream(HBE_STREAM stream) override;
    BE_ERR beGetVBRFrame(HBE_STREAM stream, uint8_t* buffer, uint32_t size,
                         uint32_t* bytes) override;

private:
    TStream* Find(HBE_STREAM stream);

    std::mutex FLock; // guards the table; each stream's encoder belongs to its caller
    std::map<HBE_STREAM, std::unique_ptr<TStream>> FStreams;
    HBE_STREAM FNextHandle = 1;
};

// This library's own interface version, beside the encoder's.
constexpr uint8_t kDLLMajorVersion = 1;
constexpr uint8_t kDLLMinorVersion = 0;

void TLameEncLibrary::beVersion(BE_VERSION* version)
{
    if (version == nullptr)
        return;
    std::memset(version, 0, sizeof *version);
    lame_version_t lame{};
    get_lame_version_numerical(&lame);
    version->byDLLMajorVersion = kDLLMajorVersion;
    version->byDLLMinorVersion = kDLLMinorVersion;
    version->byMajorVersion = static_cast<uint8_t>(lame.major);
    version->byMinorVersion = static_cast<uint8_t>(lame.minor);
    version->byAlphaLevel = static_cast<uint8_t>(lame.alpha);
    version->byBetaLevel = static_cast<uint8_t>(lame.beta);
    const char* url = get_lame_url();
    if (url != nullptr)
        std::strncpy(version->zHomepage, url, sizeof version->zHomepage - 1);
}

BE_ERR TLameEncLibrary::beInitStream(const BE_CONFIG* config, uint32_t* samples,
                                     uint32_t* bufferSize, HBE_STREAM* stream)
{
    if (config == nullptr || samples == nullptr || bufferSize == nullptr || stream == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (config->dwConfig != BE_CONFIG_LAME || config->dwStructSize != CURRENT_STRUCT_SIZE ||
        config->dwStructVersion < CURRENT_STRUCT_VERSION)
        return BE_ERR_INVALID_FORMAT;

    const uint32_t inRate = config->dwSampleRate;
    const uint32_t outRate = config->dwReSampleRate != 0 ? config->dwReSampleRate : inRate;
    if (inRate < kMinPCMRate || inRate > kMaxPCMRate || !IsMP3Rate(outRate))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (config->nMode < BE_MP3_MODE_STEREO || config->nMode > BE_MP3_MODE_MONO)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    uint32_t channels = config->btPCMChannels;
    if (channels == 0)
        channels = config->nMode == BE_MP3_MODE_MONO ? 1 : 2;
    if (channels != 1 && channels != 2)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    auto s = std::make_unique<TStream>();
    s->Flags.reset(lame_init());
    if (!s->Flags)
        return BE_ERR_NO_MORE_HANDLES;
    lame_global_flags* gfp = s->Flags.get();
    s->PCMChannels = channels;

    // Mono PCM for a two-channel file goes in as the same samples for left and right.
    lame_set_num_channels(gfp, config->nMode == BE_MP3_MODE_MONO ? static_cast<int>(channels) : 2);
    lame_set_in_samplerate(gfp, static_cast<int>(inRate));
    lame_set_out_samplerate(gfp, static_cast<int>(outRate));
    lame_set_mode(gfp, LameMode(config->nMode));
    lame_set_quality(gfp, LameQualityLevel(config->nQuality));
    lame_set_error_protection(gfp, config->bCRC != 0);
    lame_set_copyright(gfp, config->bCopyright != 0);
    lame_set_original(gfp, config->bOriginal != 0);
    lame_set_extension(gfp, config->bPrivate != 0);
    if (config->dwEmphasis <= 3)
        lame_set_emphasis(gfp, static_cast<int>(config->dwEmphasis));
    // The tag component writes the file's tag; the encoder must not add one of its own.
    lame_set_write_id3tag_automatic(gfp, 0);
    lame_set_findReplayGain(gfp, 0);

    const bool vbr = config->bEnableVBR != 0;
    if (vbr) {
        lame_set_VBR(gfp, vbr_default);
        lame_set_VBR_q(gfp, std::clamp(config->nVBRQuality, 0, 9));
        if (config->dwBitrate != 0)
            lame_set_VBR_min_bitrate_kbps(gfp, static_cast<int>(config->dwBitrate));
        if (config->dwMaxBitrate != 0)
            lame_set_VBR_max_bitrate_kbps(gfp, static_cast<int>(config->dwMaxBitrate));
    } else {
        lame_set_VBR(gfp, vbr_off);
        if (config->dwBitrate != 0)
            lame_set_brate(gfp, static_cast<int>(config->dwBitrate));
    }
    // The header frame (a placeholder at the start, finished after the flush) gives players
    // the exact frame count and the encoder's delay and padding: with VBR they need it for the
    // length and seeking, and even at a constant bitrate it lets them trim the padding.
    lame_set_bWriteVbrTag(gfp, config->bWriteVBRHeader != 0);

    if (lame_init_params(gfp) < 0)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    // One chunk is one frame of the file per channel of the PCM. When the PCM's rate is lower
    // than the file's, that chunk becomes more than a frame of the file's samples, and the
    // output bound has to be taken on those.
    const uint32_t frameSize = static_cast<uint32_t>(lame_get_framesize(gfp));
    const uint64_t fileSamples =
        (static_cast<uint64_t>(frameSize) * outRate + inRate - 1) / inRate + 1;
    const uint64_t boundSamples = std::max<uint64_t>(frameSize, fileSamples);
    s->SamplesPerChunk = frameSize * channels;
    s->BufferSize = static_cast<uint32_t>((boundSamples * 5 + 3) / 4 + 7200);

    std::lock_guard lock(FLock);
    HBE_STREAM handle = FNextHandle;
    while (handle == 0 || FStreams.count(handle) != 0)
        ++handle;
    FNextHandle = handle + 1;
    *samples = s->SamplesPerChunk;
    *bufferSize = s->BufferSize;
    *stream = handle;
    FStreams.emplace(handle, std::move(s));
    return BE_ERR_SUCCESSFUL;
}

TStream* TLameEncLibrary::Find(HBE_STREAM stream)
{
    std::lock_guard lock(FLock);
    const auto it = FStreams.find(stream);
    return it == FStreams.end() ? nullptr : it->second.get();
}

BE_ERR TLameEncLibrary::beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm,
                                      uint8_t* output, uint32_t* bytes)
{
    if (bytes == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *bytes = 0;
    TStream* s = Find(stream);
    if (s == nullptr)
        return BE_ERR_INVALID_HANDLE;
    if (samples == 0)
        return BE_ERR_SUCCESSFUL;
    // More than a chunk could overrun the caller's buffer; half a stereo frame is not audio.
    if (pcm == nullptr || output == nullptr || s->Flushed || samples > s->SamplesPerChunk ||
        samples % s->PCMChannels != 0)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    // The encoder copies the PCM; it only lacks the const in its signature.
    auto* in = const_cast<short*>(reinterpret_cast<const short*>(pcm));
    const int frames = static_cast<int>(samples / s->PCMChannels);
    const int size = static_cast<int>(s->BufferSize);
    // Mono PCM goes in as both channels; the encoder reads only the first when the file is
    // mono too.
    const int written =
        s->PCMChannels == 2
            ? lame_encode_buffer_interleaved(s->Flags.get(), in, frames, output, size)
            : lame_encode_buffer(s->Flags.get(), in, in, frames, output, size);
    if (written < 0)
        return written == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    *bytes = static_cast<uint32_t>(written);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR TLameEncLibrary::beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* bytes)
{
    if (bytes == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *bytes = 0;
    TStream* s = Find(stream);
    if (s == nullptr)
        return BE_ERR_INVALID_HANDLE;
    if (s->Flushed)
        return BE_ERR_SUCCESSFUL;
    if (output == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const int written = lame_encode_flush(s->Flags.get(), output, static_cast<int>(s->BufferSize));
    if (written < 0)
        return written == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    s->Flushed = true;
    *bytes = static_cast<uint32_t>(written);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR TLameEncLibrary::beCloseStream(HBE_STREAM stream)
{
    std::unique_ptr<TStream> s;
    {
        std::lock_guard lock(FLock);
        const auto it = FStreams.find(stream);
        if (it == FStreams.end())
            return BE_ERR_INVALID_HANDLE;
        s = std::move(it->second);
        FStreams.erase(it);
    }
    return BE_ERR_SUCCESSFUL;
}

BE_ERR TLameEncLibrary::beGetVBRFrame(HBE_STREAM stream, uint8_t* buffer, uint32_t size,
                                      uint32_t* bytes)
{
    if (bytes == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *bytes = 0;
    TStream* s = Find(stream);
    if (s == nullptr)
        return BE_ERR_INVALID_HANDLE;
    // The header counts the frames, so it is only final once the stream is flushed.
    if (!s->Flushed)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (lame_get_bWriteVbrTag(s->Flags.get()) == 0)
        return BE_ERR_SUCCESSFUL;
    const size_t needed = lame_get_lametag_frame(s->Flags.get(), nullptr, 0);
    if (needed == 0)
        return BE_ERR_SUCCESSFUL;
    if (buffer == nullptr || size < needed) {
        *bytes = static_cast<uint32_t>(needed);
        return BE_ERR_BUFFER_TOO_SMALL;
    }
    const size_t copied = lame_get_lametag_frame(s->Flags.get(), buffer, size);
    if (copied == 0 || copied > size)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *bytes = static_cast<uint32_t>(copied);
    return BE_ERR_SUCCESSFUL;
}

} // namespace

ILameEncLibrary& DefaultLameEncLibrary()
{
    static TLameEncLibrary library;
    return library;
}

} // namespace lameenc
