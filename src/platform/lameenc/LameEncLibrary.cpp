#include "mp3/LameEncLibrary.h"

namespace lameenc {
namespace {

class TStubLibrary final : public ILameEncLibrary
{
public:
    void beVersion(BE_VERSION* version) override { *version = {}; }
    BE_ERR beInitStream(const BE_CONFIG*, uint32_t*, uint32_t*, HBE_STREAM*) override
    {
        return BE_ERR_INVALID_FORMAT;
    }
    BE_ERR beEncodeChunk(HBE_STREAM, uint32_t, const int16_t*, uint8_t*, uint32_t* bytes) override
    {
        *bytes = 0;
        return BE_ERR_INVALID_HANDLE;
    }
    BE_ERR beDeinitStream(HBE_STREAM, uint8_t*, uint32_t* bytes) override
    {
        *bytes = 0;
        return BE_ERR_INVALID_HANDLE;
    }
    BE_ERR beCloseStream(HBE_STREAM) override { return BE_ERR_INVALID_HANDLE; }
    BE_ERR beGetVBRFrame(HBE_STREAM, uint8_t*, uint32_t, uint32_t* bytes) override
    {
        *bytes = 0;
        return BE_ERR_INVALID_HANDLE;
    }
};

} // namespace

ILameEncLibrary& DefaultLameEncLibrary()
{
    static TStubLibrary library;
    return library;
}

} // namespace lameenc
