// The disc's CD-Text through the ripping library: sheets in UTF-8 and in Latin-1, the buffer
// cut on a character boundary, and the language block chosen by its character set.
#include "platform/cdrip/CDText.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace cdrip;

namespace {

QString Text(ICDRipLibrary& lib, int track, int32_t field = CDTEXT_TITLE, int size = 256)
{
    std::vector<char> buffer(size_t(size), 'x');
    if (lib.CR_GetCDText(track, field, buffer.data(), size) != CDEX_OK)
        return QStringLiteral("<none:%1>").arg(QString::fromUtf8(buffer.data()));
    return QString::fromUtf8(buffer.data());
}

TEST(CDText, SheetsInUtf8AndLatin1ReadAsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TDiscImage image;
    image.DiscPerformer = QStringLiteral("Årstider");
    ASSERT_TRUE(image.Write(dir.path(), {{75, true, 0, 0.5, QStringLiteral("Für Elise")}, {75}}));
    // A second sheet for the same audio, in Latin-1 with a control character in its title
    // (libcdio looks for the data beside a sheet under the sheet's own name).
    const QString latin = dir.filePath(QStringLiteral("latin.cue"));
    ASSERT_TRUE(QFile::copy(image.BinPath, dir.filePath(QStringLiteral("latin.bin"))));
    QFile sheet(latin);
    ASSERT_TRUE(sheet.open(QIODevice::WriteOnly));
    sheet.write("FILE \"latin.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"Caf\xE9\x01Noir\"\n"
                "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n");
    sheet.close();

    qputenv("CDRIP_DRIVES", QFile::encodeName(image.CuePath + QLatin1Char(':') + latin));
    const auto lib = CreateCDRipLibrary();
    ASSERT_EQ(lib->CR_Init(), CDEX_OK);
    qputenv("CDRIP_DRIVES", QByteArray());
    ASSERT_GE(lib->CR_GetNumCDROM(), 2);
    const int first = lib->CR_GetNumCDROM() - 2;

    ASSERT_EQ(lib->CR_SetActiveCDROM(first), CDEX_OK);
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    EXPECT_EQ(Text(*lib, 1), QStringLiteral("Für Elise"));
    EXPECT_EQ(Text(*lib, 0, CDTEXT_PERFORMER), QStringLiteral("Årstider"));
    EXPECT_EQ(Text(*lib, 2), QStringLiteral("<none:>"));
    // A 3-byte buffer has room for "F" and half of the two-byte "ü": it holds "F" only.
    EXPECT_EQ(Text(*lib, 1, CDTEXT_TITLE, 3), QStringLiteral("F"));

    ASSERT_EQ(lib->CR_SetActiveCDROM(first + 1), CDEX_OK);
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    EXPECT_EQ(Text(*lib, 1), QStringLiteral("Café Noir"));
}

// One size-information pack of `block` whose first payload byte is the character code.
std::vector<uint8_t> SizePack(int block, uint8_t charset)
{
    std::vector<uint8_t> pack(18, 0);
    pack[0] = 0x8F;
    pack[3] = uint8_t(block << 4);
    pack[4] = charset;
    return pack;
}

TEST(CDText, ADriveBlockIsReadOnlyInACharacterSetItCanBeConvertedFrom)
{
    std::vector<uint8_t> packs = SizePack(0, 0x81); // Korean: left out
    const std::vector<uint8_t> latin = SizePack(1, 0x00);
    packs.insert(packs.end(), latin.begin(), latin.end());
    EXPECT_EQ(UsableTextBlock(packs.data(), packs.size()), 1);
    EXPECT_EQ(UsableTextBlock(packs.data(), 18), -1);
    EXPECT_EQ(UsableTextBlock(nullptr, 0), -1);
    // Text libcdio could not make UTF-8 of is left out rather than shown garbled.
    EXPECT_EQ(CleanDiscText("\xB0\xA1\xB0\xA2", false), QString());
}

} // namespace
