#include "platform/cdrip/CDText.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace cdrip {

namespace {

constexpr size_t PackBytes = 18;
constexpr uint8_t SizeInfoPack = 0x8F;
constexpr int Blocks = 8;
// The character codes of a block's size information.
constexpr uint8_t CharsetLatin1 = 0x00;
constexpr uint8_t CharsetAscii = 0x01;
constexpr uint8_t CharsetMsJis = 0x80;

bool ValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

} // namespace

int UsableTextBlock(const uint8_t* packs, size_t bytes)
{
    int charset[Blocks];
    std::fill(std::begin(charset), std::end(charset), -1);
    for (size_t at = 0; packs != nullptr && at + PackBytes <= bytes; at += PackBytes) {
        const uint8_t* pack = packs + at;
        // The first of a block's three size packs carries its character code.
        if (pack[0] == SizeInfoPack && pack[1] == 0)
            charset[(pack[3] >> 4) & 0x07] = pack[4];
    }
    for (int block = 0; block < Blocks; ++block) {
        if (charset[block] == CharsetLatin1 || charset[block] == CharsetAscii ||
            charset[block] == CharsetMsJis)
            return block;
    }
    return -1;
}

QString CleanDiscText(const char* text, bool fromSheet)
{
    if (text == nullptr)
        return {};
    const QByteArray bytes(text);
    if (!ValidUtf8(bytes))
        return {};
    QString result = QString::fromUtf8(bytes);
    if (fromSheet) {
        // Read back as the bytes of the sheet; when they are UTF-8 with characters beyond
        // ASCII, the sheet was written in UTF-8 and libcdio's reading as Latin-1 is undone.
        const bool latin1 =
            std::all_of(result.begin(), result.end(), [](QChar c) { return c.unicode() <= 0xFF; });
        if (latin1) {
            const QByteArray original = result.toLatin1();
            const bool beyondAscii = std::any_of(original.begin(), original.end(),
                                                 [](char c) { return uchar(c) >= 0x80; });
            if (beyondAscii && ValidUtf8(original))
                result = QString::fromUtf8(original);
        }
    }
    for (QChar& c : result) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return result.trimmed();
}

void TDiscText::Read(CdIo_t* cdio, bool image, track_t first, track_t count)
{
    FEntries.clear();
    cdtext_t* text = cdio_get_cdtext(cdio);
    if (text == nullptr)
        return;
    if (!image) {
        // A drive hands out its packs raw too: they tell each block's character set, which
        // libcdio does not. Text it cannot turn into UTF-8 is better left out than shown garbled.
        uint8_t* raw = cdio_get_cdtext_raw(cdio);
        int block = -1;
        if (raw != nullptr) {
            const size_t length = ((size_t(raw[0]) << 8) | raw[1]) + 2;
            if (length > 4)
                block = UsableTextBlock(raw + 4, length - 4);
            std::free(raw);
        }
        if (block < 0 || !cdtext_set_language_index(text, block))
            return;
    }
    for (int place = 0; place <= int(count); ++place) {
        const track_t track = place == 0 ? track_t(0) : track_t(first + place - 1);
        for (const auto& [field, ours] : {std::pair{CDTEXT_FIELD_TITLE, CDTEXT_TITLE},
                                          std::pair{CDTEXT_FIELD_PERFORMER, CDTEXT_PERFORMER}}) {
            const QString value = CleanDiscText(cdtext_get_const(text, field, track), image);
            if (!value.isEmpty())
                FEntries.push_back({place, ours, value.toUtf8()});
        }
    }
}

CDSTATUS TDiscText::Get(int32_t trackNumber, int32_t field, char* text, int32_t size) const
{
    if (text == nullptr || size <= 0)
        return CDEX_ERROR;
    text[0] = 0;
    for (const TEntry& entry : FEntries) {
        if (entry.Track != trackNumber || entry.Field != field)
            continue;
        int n = std::min<int>(int(entry.Utf8.size()), size - 1);
        while (n > 0 && n < entry.Utf8.size() && (uchar(entry.Utf8[n]) & 0xC0) == 0x80)
            --n;
        std::memcpy(text, entry.Utf8.constData(), size_t(n));
        text[n] = 0;
        return CDEX_OK;
    }
    return CDEX_ERROR;
}

} // namespace cdrip
