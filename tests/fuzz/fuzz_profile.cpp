// Feeds arbitrary bytes to the INI reader and writer. The input is up to three NUL-separated
// names (section, key, value) followed by the file's bytes. Besides not crashing, a write must
// read back as written, writing it again must change nothing, and a file in UTF-16 must come
// back from its own bytes as it was written.
#include "platform/profile/ProfileText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace profile;

namespace {

// A failed check names its line, so the crash report says which property broke.
void CheckAt(bool condition, int line)
{
    if (!condition) {
        std::fprintf(stderr, "check failed at %s:%d\n", __FILE__, line);
        std::abort();
    }
}
#define Check(condition) CheckAt((condition), __LINE__)

QString AsciiOnly(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return {};
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    QByteArray input(reinterpret_cast<const char*>(bytes), qsizetype(size));
    QByteArrayList parts;
    for (int i = 0; i < 3; ++i) {
        const qsizetype nul = input.indexOf('\0');
        if (nul < 0)
            break;
        parts.append(input.left(nul));
        input.remove(0, nul + 1);
    }
    while (parts.size() < 3)
        parts.append(QByteArray("k"));
    const QString section = QString::fromUtf8(parts[0]);
    const QString key = QString::fromUtf8(parts[1]);
    const QString value = QString::fromUtf8(parts[2]);
    const TFileText text = FromFileBytes(input);
    const QByteArray& file = text.Data;

    ReadValue(file, section, key);
    const auto pairs = SectionValues(file, section, 16384, 2048);
    for (const auto& [name, text] : pairs) {
        // A listed name reads back its value (names that are not UTF-8 cannot be asked for).
        const QString ascii = AsciiOnly(name);
        if (!ascii.isEmpty())
            Check(Limited(ReadValue(file, section, ascii).value_or(QString()), 2048) == text);
    }

    QByteArray edited = file;
    bool ok = true;
    ApplyWrite(edited, {section, key, value}, ok);
    if (!ok) {
        Check(edited == file);
        return 0;
    }
    QString expected = value;
    expected.replace(u'\r', u' ').replace(u'\n', u' ');
    Check(ReadValue(edited, section, key) == expected);
    QByteArray again = edited;
    Check(!ApplyWrite(again, {section, key, value}, ok) && ok && again == edited);
    if (text.Writable) {
        const QByteArray stored = ToFileBytes({edited, text.Encoding, true});
        const TFileText reread = FromFileBytes(stored);
        Check(reread.Encoding == text.Encoding && reread.Writable && reread.Data == edited);
    }
    return 0;
}
