#pragma once

#include <cstddef>
#include <cstdint>

// The contract with the encoder library: one configuration record per stream, a frame-sized chunk
// of 16-bit PCM in, a block of MP3 data out. Result 0 is success.

namespace lameenc {

using BE_ERR = int32_t;
using HBE_STREAM = uint32_t;

constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
constexpr BE_ERR BE_ERR_INVALID_FORMAT = 1;
constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 2;
constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 3;
constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;
constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 5;

constexpr uint32_t BE_CONFIG_LAME = 256;
constexpr uint32_t CURRENT_STRUCT_VERSION = 1;
constexpr uint32_t CURRENT_STRUCT_SIZE = 331;

// Booleans of the record are 32-bit: 0 false, anything else true; the component writes -1.
constexpr int32_t BE_TRUE = -1;
constexpr int32_t BE_FALSE = 0;

// Values of nMode.
constexpr int32_t BE_MP3_MODE_STEREO = 0;
constexpr int32_t BE_MP3_MODE_JSTEREO = 1;
constexpr int32_t BE_MP3_MODE_DUALCHANNEL = 2;
constexpr int32_t BE_MP3_MODE_MONO = 3;

// Values of nQuality.
constexpr int32_t BE_QUALITY_NORMAL = 0;
constexpr int32_t BE_QUALITY_LOW = 1;
constexpr int32_t BE_QUALITY_HIGH = 2;
constexpr int32_t BE_QUALITY_VOICE = 3;

#pragma pack(push, 1)
// The configuration record, 331 bytes, little-endian.
//
// The PCM handed to the stream need not have the layout of the file: the ripper delivers what
// its output format gives, the file gets the rate and mode the user chose. Hence:
// - dwSampleRate is the rate of the PCM handed in;
// - dwReSampleRate is the rate of the file, or 0 for "the same as the PCM";
// - nMode is the mode of the file;
// - btPCMChannels (the first reserved byte) is the number of interleaved channels of the PCM,
//   or 0 for "what the mode implies" (one for mono, two for the others).
// A record that leaves the last two at 0 encodes PCM already in the file's layout.
struct BE_CONFIG
{
    uint32_t dwConfig;        // 0: BE_CONFIG_LAME
    uint32_t dwStructVersion; // 4: CURRENT_STRUCT_VERSION
    uint32_t dwStructSize;    // 8: CURRENT_STRUCT_SIZE
    uint32_t dwSampleRate;    // 12: rate of the PCM, Hz
    uint32_t dwReSampleRate;  // 16: rate of the file, Hz, 0 = dwSampleRate
    int32_t nMode;            // 20: BE_MP3_MODE_*
    uint32_t dwBitrate;       // 24: kbit/s; the minimum with VBR
    uint32_t dwMaxBitrate;    // 28: kbit/s, VBR maximum
    int32_t nQuality;         // 32: BE_QUALITY_*
    uint32_t dwMpegVersion;   // 36: 1
    uint32_t dwPsyModel;      // 40: 0
    uint32_t dwEmphasis;      // 44: 0
    int32_t bPrivate;         // 48
    int32_t bCRC;             // 52
    int32_t bCopyright;       // 56
    int32_t bOriginal;        // 60
    int32_t bWriteVBRHeader;  // 64
    int32_t bEnableVBR;       // 68
    int32_t nVBRQuality;      // 72: 0 best .. 9
    uint8_t btPCMChannels;    // 76: see above
    uint8_t btReserved[254];  // 77: zero
};

// The version record. Only the first four bytes are read by the program.
struct BE_VERSION
{
    uint8_t byDLLMajorVersion;
    uint8_t byDLLMinorVersion;
    uint8_t byMajorVersion;
    uint8_t byMinorVersion;
    uint8_t byDay;
    uint8_t byMonth;
    uint16_t wYear;
    char zHomepage[129]; // zero-terminated
    uint8_t byAlphaLevel;
    uint8_t byBetaLevel;
    uint8_t byMMXEnabled;
    uint8_t btReserved[125];
};
#pragma pack(pop)

static_assert(sizeof(BE_CONFIG) == 331);
static_assert(offsetof(BE_CONFIG, dwConfig) == 0);
static_assert(offsetof(BE_CONFIG, dwStructVersion) == 4);
static_assert(offsetof(BE_CONFIG, dwStructSize) == 8);
static_assert(offsetof(BE_CONFIG, dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, dwReSampleRate) == 16);
static_assert(offsetof(BE_CONFIG, nMode) == 20);
static_assert(offsetof(BE_CONFIG, dwBitrate) == 24);
static_assert(offsetof(BE_CONFIG, dwMaxBitrate) == 28);
static_assert(offsetof(BE_CONFIG, nQuality) == 32);
static_assert(offsetof(BE_CONFIG, dwMpegVersion) == 36);
static_assert(offsetof(BE_CONFIG, dwPsyModel) == 40);
static_assert(offsetof(BE_CONFIG, dwEmphasis) == 44);
static_assert(offsetof(BE_CONFIG, bPrivate) == 48);
static_assert(offsetof(BE_CONFIG, bCRC) == 52);
static_assert(offsetof(BE_CONFIG, bCopyright) == 56);
static_assert(offsetof(BE_CONFIG, bOriginal) == 60);
static_assert(offsetof(BE_CONFIG, bWriteVBRHeader) == 64);
static_assert(offsetof(BE_CONFIG, bEnableVBR) == 68);
static_assert(offsetof(BE_CONFIG, nVBRQuality) == 72);
static_assert(offsetof(BE_CONFIG, btPCMChannels) == 76);
static_assert(offsetof(BE_CONFIG, btReserved) == 77);
static_assert(sizeof(BE_VERSION) == 265);
static_assert(offsetof(BE_VERSION, zHomepage) == 8);

// The library's calls. One real implementation stands over libmp3lame; tests use scripted fakes.
// Streams are independent of each other; every call for one stream comes from one thread.
class ILameEncLibrary
{
public:
    virtual ~ILameEncLibrary() = default;

    // Fills the version record from the linked encoder.
    virtual void beVersion(BE_VERSION* version) = 0;

    // Opens a stream for the record. *samples gets the number of 16-bit PCM samples (all
    // channels) every chunk must carry, *bufferSize the bytes of output one encode or flush call
    // may return at most, *stream the handle.
    virtual BE_ERR beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                                HBE_STREAM* stream) = 0;

    // Encodes `samples` 16-bit samples (interleaved when the PCM has two channels), at most the
    // count beInitStream gave; `output` holds at least the buffer size beInitStream gave.
    virtual BE_ERR beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm,
                                 uint8_t* output, uint32_t* bytes) = 0;

    // Flushes what the encoder still holds; the stream stays open for beGetVBRFrame.
    virtual BE_ERR beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* bytes) = 0;

    // Frees the stream.
    virtual BE_ERR beCloseStream(HBE_STREAM stream) = 0;

    // After beDeinitStream: the finished header frame (frame count, seek table, the encoder's
    // delay and padding), which belongs over the placeholder frame that began the stream's
    // output. Written when bWriteVBRHeader is set, for VBR and constant bitrate alike. *bytes
    // gets its length, 0 when the stream writes none. BE_ERR_BUFFER_TOO_SMALL, with *bytes the
    // length needed, when `size` is short.
    virtual BE_ERR beGetVBRFrame(HBE_STREAM stream, uint8_t* buffer, uint32_t size,
                                 uint32_t* bytes) = 0;
};

// The process's real library (over libmp3lame), created on first use.
ILameEncLibrary& DefaultLameEncLibrary();

} // namespace lameenc
