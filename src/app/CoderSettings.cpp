#include "app/CoderSettings.h"

#include "app/globals.h"
#include "mp3/LameCoder.h"

void ApplyMP3Settings(TLameCoder& coder)
{
    coder.SetSampleRate(uint32_t(Settings.SampleRates));
    coder.SetBitrate(uint32_t(Settings.BitRates));
    coder.SetMaxBitrate(uint32_t(Settings.MaxBitRates));
    coder.SetMode(TLameMode(Settings.Mode & 0xFF));
    coder.SetQuality(MPEG_QUALITY(Settings.Quality & 0xFF));
    coder.SetVBRQuality(Settings.VBRQuality);
    coder.SetEnableVBR(Settings.EnableVBR);
    coder.SetWriteVBRHeader(Settings.WriteVBRHeader);
    coder.SetCopyright(Settings.CopyRight);
    coder.SetOriginal(Settings.Original);
    coder.SetCRC(Settings.CRC);
    coder.SetPrivate(Settings.bPrivate);
}
