#include "support/FakeLameEnc.h"

#include <QString>

#include <cstring>

using namespace lameenc;

TFakeLameEnc::TFakeLameEnc()
{
    Version.byDLLMajorVersion = 1;
    Version.byDLLMinorVersion = 32;
    Version.byMajorVersion = 3;
    Version.byMinorVersion = 100;
}

const BE_CONFIG& TFakeLameEnc::LastConfig() const
{
    return FLastConfig;
}

void TFakeLameEnc::beVersion(BE_VERSION* version)
{
    Calls << QStringLiteral("beVersion");
    *version = Version;
}

BE_ERR TFakeLameEnc::beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                                  HBE_STREAM* stream)
{
    Calls << QStringLiteral("beInitStream");
    Configs << QByteArray(reinterpret_cast<const char*>(config), sizeof *config);
    std::memcpy(&FLastConfig, config, sizeof FLastConfig);
    FNextChunk = 0;
    if (InitResult != BE_ERR_SUCCESSFUL)
        return InitResult;
    *samples = Samples;
    *bufferSize = BufferSize;
    *stream = Handle;
    return BE_ERR_SUCCESSFUL;
}

BE_ERR TFakeLameEnc::beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm,
                                   uint8_t* output, uint32_t* bytes)
{
    Calls << QStringLiteral("beEncodeChunk %1 %2").arg(stream).arg(samples);
    Chunks << QByteArray(reinterpret_cast<const char*>(pcm), static_cast<qsizetype>(samples) * 2);
    *bytes = 0;
    if (FNextChunk < ChunkOutput.size()) {
        const QByteArray& block = ChunkOutput.at(FNextChunk++);
        std::memcpy(output, block.constData(), static_cast<size_t>(block.size()));
        *bytes = static_cast<uint32_t>(block.size());
    }
    return EncodeResult;
}

BE_ERR TFakeLameEnc::beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* bytes)
{
    Calls << QStringLiteral("beDeinitStream %1").arg(stream);
    std::memcpy(output, FlushOutput.constData(), static_cast<size_t>(FlushOutput.size()));
    *bytes = static_cast<uint32_t>(FlushOutput.size());
    return DeinitResult;
}

BE_ERR TFakeLameEnc::beCloseStream(HBE_STREAM stream)
{
    Calls << QStringLiteral("beCloseStream %1").arg(stream);
    return CloseResult;
}

BE_ERR TFakeLameEnc::beGetVBRFrame(HBE_STREAM stream, uint8_t* buffer, uint32_t size,
                                   uint32_t* bytes)
{
    Calls << QStringLiteral("beGetVBRFrame %1").arg(stream);
    *bytes = static_cast<uint32_t>(VBRFrame.size());
    if (size < *bytes)
        return BE_ERR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, VBRFrame.constData(), static_cast<size_t>(VBRFrame.size()));
    return BE_ERR_SUCCESSFUL;
}
