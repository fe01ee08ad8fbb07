#include "mp3/LameCoder.h"

#include <QMetaObject>

#include <algorithm>
#include <cstring>

using namespace lameenc;
using namespace Qt::StringLiterals;

namespace {

const char* const kAssignError = "Cannot assign a %s to a %s";

[[noreturn]] void AssignError(const QObject* source, const char* target)
{
    const char* sourceName = source != nullptr ? source->metaObject()->className() : "nil";
    throw EAssignError(QString::asprintf(kAssignError, sourceName, target).toStdString());
}

// A frame of the encoder's header is at most 1441 bytes; start a little above.
constexpr uint32_t kVBRFrameGuess = 2048;

// MPEG-1, 2 and 2.5 at their three rates each.
constexpr uint32_t kMP3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
// The PCM rates the library resamples from.
constexpr uint32_t kMinPCMRate = 8000;
constexpr uint32_t kMaxPCMRate = 192000;

QString RateList()
{
    QStringList rates;
    for (const uint32_t rate : kMP3Rates)
        rates << QString::number(rate);
    const QString last = rates.takeLast();
    return rates.join(u", "_s) + u" or "_s + last;
}

QString ModeName(int32_t mode)
{
    switch (mode) {
    case BE_MP3_MODE_STEREO:
        return u"stereo"_s;
    case BE_MP3_MODE_JSTEREO:
        return u"joint stereo"_s;
    case BE_MP3_MODE_DUALCHANNEL:
        return u"dual channel"_s;
    case BE_MP3_MODE_MONO:
        return u"mono"_s;
    default:
        return u"mode %1"_s.arg(mode);
    }
}

} // namespace

TLameVersion::TLameVersion(ILameEncLibrary& library, QObject* parent) : QObject(parent)
{
    library.beVersion(&FVersion);
}

void TLameVersion::Assign(const QObject* source)
{
    const auto* other = qobject_cast<const TLameVersion*>(source);
    if (other == nullptr)
        AssignError(source, "TLameVersion");
    FVersion.byDLLMajorVersion = other->FVersion.byDLLMajorVersion;
    FVersion.byDLLMinorVersion = other->FVersion.byDLLMinorVersion;
    FVersion.byMajorVersion = other->FVersion.byMajorVersion;
    FVersion.byMinorVersion = other->FVersion.byMinorVersion;
}

TLameCoder::TLameCoder(QObject* parent, ILameEncLibrary* library)
    : QObject(parent), FLibrary(library != nullptr ? *library : DefaultLameEncLibrary())
{
    FLameVersion = new TLameVersion(FLibrary, this);
    FDefaultExt = QStringLiteral(".mp3");
}

TLameCoder::~TLameCoder()
{
    // A stream left open by a caller that never closed it would otherwise stay in the library.
    if (FStreamOpen)
        FLibrary.beCloseStream(StreamHandle);
}

TLameMode TLameCoder::Mode() const
{
    return static_cast<TLameMode>(ModeCode);
}

void TLameCoder::SetMode(TLameMode value)
{
    switch (value) {
    case STEREO:
    case JSTEREO:
    case DUALCHANNEL:
    case MONO:
        ModeCode = static_cast<int32_t>(value);
        break;
    }
}

void TLameCoder::SetEnableVBR(int32_t value)
{
    FEnableVBR = value;
    FWriteVBRHeader = value;
}

void TLameCoder::SetInputFiles(const QStringList& value)
{
    FInputFiles = value;
    FOutputFiles.clear();
    for (const QString& name : FInputFiles) {
        // Only a dot inside the last path component starts an extension.
        qsizetype start = 0;
        for (qsizetype i = name.size() - 1; i >= 0; --i) {
            const QChar c = name.at(i);
            if (c == u'\\' || c == u'/' || c == u':') {
                start = i + 1;
                break;
            }
        }
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot >= start && dot >= 0)
            FOutputFiles.append(name.left(dot) + FDefaultExt);
        else
            FOutputFiles.append(name + FDefaultExt);
    }
}

void TLameCoder::Assign(const QObject* source)
{
    const auto* other = qobject_cast<const TLameCoder*>(source);
    if (other == nullptr)
        AssignError(source, "TLameCoder");
    FSampleRate = other->FSampleRate;
    ModeCode = other->ModeCode;
    FBitrate = other->FBitrate;
    FMaxBitrate = other->FMaxBitrate;
    FQuality = other->FQuality;
    FPrivate = other->FPrivate;
    FCRC = other->FCRC;
    FCopyright = other->FCopyright;
    FOriginal = other->FOriginal;
    FWriteVBRHeader = other->FWriteVBRHeader;
    FEnableVBR = other->FEnableVBR;
    FVBRQuality = other->FVBRQuality;
}

void TLameCoder::SetPCMFormat(uint32_t sampleRate, uint32_t channels)
{
    FPCMSampleRate = sampleRate;
    FPCMChannels = channels;
}

void TLameCoder::FillConfig()
{
    std::memset(&FConfig, 0, sizeof FConfig);
    FConfig.dwConfig = BE_CONFIG_LAME;
    FConfig.dwStructVersion = CURRENT_STRUCT_VERSION;
    FConfig.dwStructSize = CURRENT_STRUCT_SIZE;
    // The record names the PCM's layout only where it differs from the file's, so a stream fed
    // PCM in the file's own layout gets the classic record.
    FConfig.dwSampleRate = FPCMSampleRate;
    FConfig.dwReSampleRate = FSampleRate == FPCMSampleRate ? 0 : FSampleRate;
    FConfig.nMode = ModeCode;
    const uint32_t modeChannels = ModeCode == BE_MP3_MODE_MONO ? 1 : 2;
    if (FPCMChannels != modeChannels)
        FConfig.btPCMChannels = static_cast<uint8_t>(FPCMChannels > 255 ? 255 : FPCMChannels);
    FConfig.dwBitrate = FBitrate;
    FConfig.dwMaxBitrate = FMaxBitrate;
    FConfig.nQuality = static_cast<int32_t>(FQuality);
    FConfig.dwMpegVersion = 1;
    FConfig.dwPsyModel = 0;
    FConfig.dwEmphasis = 0;
    FConfig.bPrivate = FPrivate;
    FConfig.bCRC = FCRC;
    FConfig.bCopyright = FCopyright;
    FConfig.bOriginal = FOriginal;
    FConfig.bWriteVBRHeader = FWriteVBRHeader;
    FConfig.bEnableVBR = FEnableVBR;
    FConfig.nVBRQuality = FVBRQuality;
}

int32_t TLameCoder::OpenStream()
{
    // One stream at a time: a caller that opens again without closing would leak the old one.
    if (FStreamOpen)
        CloseStream();
    FVBRHeaderFrame.clear();
    FillConfig();
    const BE_ERR result =
        FLibrary.beInitStream(&FConfig, &FSamplesPerChunk, &FOutputBufferSize, &StreamHandle);
    FStreamOpen = result == BE_ERR_SUCCESSFUL;
    return result;
}

int32_t TLameCoder::EncodeChunk(const int16_t* pcm, uint8_t* output, uint32_t* bytes)
{
    return FLibrary.beEncodeChunk(StreamHandle, FSamplesPerChunk, pcm, output, bytes);
}

int32_t TLameCoder::EncodeChunk(const int16_t* pcm, uint32_t samples, uint8_t* output,
                                uint32_t* bytes)
{
    return FLibrary.beEncodeChunk(StreamHandle, samples, pcm, output, bytes);
}

int32_t TLameCoder::FlushStream(uint8_t* output, uint32_t* bytes)
{
    const BE_ERR result = FLibrary.beDeinitStream(StreamHandle, output, bytes);
    FVBRHeaderFrame.clear();
    if (result != BE_ERR_SUCCESSFUL)
        return result;
    QByteArray frame(kVBRFrameGuess, '\0');
    uint32_t frameBytes = 0;
    BE_ERR frameResult = FLibrary.beGetVBRFrame(
        StreamHandle, reinterpret_cast<uint8_t*>(frame.data()), kVBRFrameGuess, &frameBytes);
    if (frameResult == BE_ERR_BUFFER_TOO_SMALL && frameBytes > kVBRFrameGuess &&
        frameBytes <= 1u << 20) {
        frame.resize(frameBytes);
        frameResult = FLibrary.beGetVBRFrame(StreamHandle, reinterpret_cast<uint8_t*>(frame.data()),
                                             frameBytes, &frameBytes);
    }
    if (frameResult == BE_ERR_SUCCESSFUL && frameBytes <= static_cast<uint32_t>(frame.size())) {
        frame.resize(frameBytes);
        FVBRHeaderFrame = frame;
    }
    return result;
}

int32_t TLameCoder::CloseStream()
{
    const BE_ERR result = FLibrary.beCloseStream(StreamHandle);
    FStreamOpen = false;
    return result;
}

bool TLameCoder::IsMP3SampleRate(uint32_t rate)
{
    return std::find(std::begin(kMP3Rates), std::end(kMP3Rates), rate) != std::end(kMP3Rates);
}

QString TLameCoder::RefusedSetting(int32_t result) const
{
    switch (result) {
    case BE_ERR_INVALID_FORMAT:
        return u"the encoder library does not know this program's settings record"_s;
    case BE_ERR_NO_MORE_HANDLES:
        return u"the encoder library has no room for another stream"_s;
    default:
        break;
    }
    if (!IsMP3SampleRate(FSampleRate))
        return u"it does not take a sample rate of %1 Hz; an MP3 file has %2 Hz"_s.arg(FSampleRate)
            .arg(RateList());
    if (FPCMSampleRate < kMinPCMRate || FPCMSampleRate > kMaxPCMRate)
        return u"it does not take the disc's audio at %1 Hz"_s.arg(FPCMSampleRate);
    if (FPCMChannels != 1 && FPCMChannels != 2)
        return u"it does not take audio with %1 channels"_s.arg(FPCMChannels);
    if (ModeCode < BE_MP3_MODE_STEREO || ModeCode > BE_MP3_MODE_MONO)
        return u"it does not take the stereo mode %1"_s.arg(ModeCode);
    // Nothing on its own is out of range: the combination was refused.
    QString settings = u"sample rate %1 Hz, "_s.arg(FSampleRate);
    if (FEnableVBR != BE_FALSE)
        settings += u"VBR from %1 to %2 kbit/s at VBR quality %3, "_s.arg(FBitrate)
                        .arg(FMaxBitrate)
                        .arg(FVBRQuality);
    else
        settings += u"%1 kbit/s, "_s.arg(FBitrate);
    settings += ModeName(ModeCode);
    return u"it refused these settings together: "_s + settings;
}
