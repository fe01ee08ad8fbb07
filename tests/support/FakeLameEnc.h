#pragma once

#include "mp3/LameEncLibrary.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// A scripted encoder library. It records every call ("beInitStream", "beEncodeChunk 7 2304",
// ...), the bytes of every configuration record and every chunk of PCM, and answers with the
// script's results, sizes and output blocks.
class TFakeLameEnc : public lameenc::ILameEncLibrary
{
public:
    TFakeLameEnc();

    // The script.
    lameenc::BE_VERSION Version{};
    lameenc::BE_ERR InitResult = lameenc::BE_ERR_SUCCESSFUL;
    uint32_t Samples = 2304;
    uint32_t BufferSize = 10080;
    lameenc::HBE_STREAM Handle = 7;
    lameenc::BE_ERR EncodeResult = lameenc::BE_ERR_SUCCESSFUL;
    lameenc::BE_ERR DeinitResult = lameenc::BE_ERR_SUCCESSFUL;
    lameenc::BE_ERR CloseResult = lameenc::BE_ERR_SUCCESSFUL;
    QList<QByteArray> ChunkOutput; // one block per beEncodeChunk, in order; none when used up
    QByteArray FlushOutput;
    QByteArray VBRFrame; // what beGetVBRFrame hands out (empty: no header)

    // What happened.
    QStringList Calls;
    QList<QByteArray> Configs; // the 331 bytes of each beInitStream's record
    QList<QByteArray> Chunks;  // the PCM bytes of each beEncodeChunk

    // The record of the last beInitStream.
    const lameenc::BE_CONFIG& LastConfig() const;

    void beVersion(lameenc::BE_VERSION* version) override;
    lameenc::BE_ERR beInitStream(const lameenc::BE_CONFIG* config, uint32_t* samples,
                                 uint32_t* bufferSize, lameenc::HBE_STREAM* stream) override;
    lameenc::BE_ERR beEncodeChunk(lameenc::HBE_STREAM stream, uint32_t samples, const int16_t* pcm,
                                  uint8_t* output, uint32_t* bytes) override;
    lameenc::BE_ERR beDeinitStream(lameenc::HBE_STREAM stream, uint8_t* output,
                                   uint32_t* bytes) override;
    lameenc::BE_ERR beCloseStream(lameenc::HBE_STREAM stream) override;
    lameenc::BE_ERR beGetVBRFrame(lameenc::HBE_STREAM stream, uint8_t* buffer, uint32_t size,
                                  uint32_t* bytes) override;

private:
    int FNextChunk = 0;
    lameenc::BE_CONFIG FLastConfig{};
};
