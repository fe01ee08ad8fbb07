#include "platform/profile/ProfileText.h"

#include <QHash>
#include <QStringDecoder>
#include <QStringEncoder>

#include <optional>

namespace profile {

namespace {

const QByteArray Utf8Bom("\xEF\xBB\xBF");

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// A range of bytes of the file.
struct TSpan
{
    qsizetype Begin = 0;
    qsizetype End = 0;
    bool IsEmpty() const { return Begin >= End; }
};

enum class TLineKind
{
    Blank,
    Comment,
    Header,
    Key,
    Other
};

struct TLine
{
    qsizetype Begin = 0; // first byte of the line
    qsizetype End = 0;   // one past the last byte before the line break
    qsizetype Next = 0;  // first byte of the following line
    TLineKind Kind = TLineKind::Blank;
    TSpan Name;  // section name of a header, key name of a key
    TSpan Value; // trimmed value of a key
    qsizetype Equals = -1;
};

TSpan Trimmed(const QByteArray& data, qsizetype begin, qsizetype end)
{
    while (begin < end && IsBlank(data[begin]))
        ++begin;
    while (end > begin && IsBlank(data[end - 1]))
        --end;
    return {begin, end};
}

// Walks the lines of a file's bytes.
class TLineReader
{
public:
    explicit TLineReader(const QByteArray& data) : FData(data)
    {
        if (FData.startsWith(Utf8Bom))
            FPos = Utf8Bom.size();
    }

    qsizetype Start() const { return FData.startsWith(Utf8Bom) ? Utf8Bom.size() : 0; }

    bool Read(TLine& line)
    {
        const qsizetype size = FData.size();
        if (FPos >= size)
            return false;
        line = TLine{};
        line.Begin = FPos;
        qsizetype end = FPos;
        const char* d = FData.constData();
        while (end < size && d[end] != '\r' && d[end] != '\n')
            ++end;
        line.End = end;
        line.Next = end;
        if (line.Next < size && d[line.Next] == '\r')
            ++line.Next;
        if (line.Next < size && d[line.Next] == '\n' && (line.Next == end || d[end] == '\r'))
            ++line.Next;
        FPos = line.Next;
        Classify(line);
        return true;
    }

private:
    void Classify(TLine& line) const
    {
        const TSpan text = Trimmed(FData, line.Begin, line.End);
        if (text.IsEmpty()) {
            line.Kind = TLineKind::Blank;
            return;
        }
        const char first = FData[text.Begin];
        if (first == ';') {
            line.Kind = TLineKind::Comment;
            return;
        }
        if (first == '[') {
            qsizetype close = text.End - 1;
            while (close > text.Begin && FData[close] != ']')
                --close;
            if (close > text.Begin) {
                line.Kind = TLineKind::Header;
                line.Name = Trimmed(FData, text.Begin + 1, close);
                return;
            }
            // Without its closing bracket the line opens no section: it is read like any
            // other line, so the keys after it stay in the section they belong to.
        }
        const qsizetype eq = FData.indexOf('=', text.Begin);
        if (eq < 0 || eq >= text.End) {
            line.Kind = TLineKind::Other;
            return;
        }
        line.Name = Trimmed(FData, text.Begin, eq);
        if (line.Name.IsEmpty()) {
            line.Kind = TLineKind::Other;
            return;
        }
        line.Kind = TLineKind::Key;
        line.Equals = eq;
        line.Value = Trimmed(FData, eq + 1, text.End);
    }

    const QByteArray& FData;
    qsizetype FPos = 0;
};

bool NameMatches(const QByteArray& data, TSpan span, const QByteArray& name)
{
    if (span.End - span.Begin != name.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (AsciiLower(data[span.Begin + i]) != AsciiLower(name[i]))
            return false;
    }
    return true;
}

// A requested name as the file spells names: UTF-8, blanks around it dropped, and line breaks
// as the blanks a write turns them into.
QByteArray RequestedName(const QString& name)
{
    QByteArray bytes = name.toUtf8();
    bytes.replace('\r', ' ').replace('\n', ' ');
    const TSpan span = Trimmed(bytes, 0, bytes.size());
    return bytes.mid(span.Begin, span.End - span.Begin);
}

// The characters of 0x80 to 0x9F in the code page other programs on the desktop write their
// files in; the five bytes it leaves undefined map to the control characters of the same value.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString DecodeCp1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        *out++ = QChar(b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : char16_t(b));
    }
    return text;
}

QString Decode(QByteArrayView bytes)
{
    // A byte order mark inside a line is text like any other character.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return DecodeCp1252(bytes);
    return text;
}

// The value as read back: the trimmed text without one matching pair of outer quotes.
TSpan Unquoted(const QByteArray& data, TSpan value)
{
    if (value.End - value.Begin >= 2) {
        const char first = data[value.Begin];
        if ((first == '"' || first == '\'') && data[value.End - 1] == first)
            return {value.Begin + 1, value.End - 1};
    }
    return value;
}

// Where a section lies in the file.
struct TSectionPlace
{
    bool Found = false;
    qsizetype InsertAt = 0;        // just after the section's last non-blank line
    bool InsertNeedsBreak = false; // that line ends the file without a line break
};

// Calls `onKey` for each key line of the first section named `section`; reports where it lies.
template <typename F>
TSectionPlace ScanSection(const QByteArray& data, const QByteArray& section, F onKey)
{
    TLineReader reader(data);
    TSectionPlace place;
    TLine line;
    // Keys before the first header form the nameless section.
    bool inside = section.isEmpty();
    if (inside) {
        place.Found = true;
        place.InsertAt = reader.Start();
    }
    while (reader.Read(line)) {
        if (line.Kind == TLineKind::Header) {
            if (inside)
                break; // the first section of that name wins; later ones are never merged
            if (NameMatches(data, line.Name, section)) {
                inside = true;
                place.Found = true;
                place.InsertAt = line.Next;
                place.InsertNeedsBreak = line.Next == line.End;
            }
            continue;
        }
        if (!inside)
            continue;
        if (line.Kind != TLineKind::Blank) {
            place.InsertAt = line.Next;
            place.InsertNeedsBreak = line.Next == line.End;
        }
        if (line.Kind == TLineKind::Key && !onKey(line))
            break;
    }
    return place;
}

QByteArray LineBreakOf(const QByteArray& data)
{
    const qsizetype at = data.indexOf('\n');
    const qsizetype cr = data.indexOf('\r');
    if (cr >= 0 && (at < 0 || cr < at))
        return (cr + 1 < data.size() && data[cr + 1] == '\n') ? QByteArray("\r\n")
                                                              : QByteArray("\r");
    return QByteArray("\n");
}

// Line breaks inside a name or value would split its line and add keys or sections.
QString WithoutLineBreaks(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

// The bytes that read back as `value`.
QByteArray EncodedValue(const QString& value)
{
    const QByteArray bytes = value.toUtf8();
    const bool outerBlank = !bytes.isEmpty() && (IsBlank(bytes.front()) || IsBlank(bytes.back()));
    const bool outerQuotes = bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') &&
                             bytes.back() == bytes.front();
    if (outerBlank || outerQuotes)
        return '"' + bytes + '"';
    return bytes;
}

} // namespace

TFileText FromFileBytes(const QByteArray& bytes)
{
    TFileText text;
    const bool little = bytes.startsWith("\xFF\xFE");
    if (!little && !bytes.startsWith("\xFE\xFF")) {
        text.Data = bytes;
        return text;
    }
    text.Encoding = little ? TFileEncoding::Utf16LE : TFileEncoding::Utf16BE;
    QStringDecoder decoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                           QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(QByteArrayView(bytes).sliced(2));
    text.Data = decoded.toUtf8();
    text.Writable = !decoder.hasError() && ToFileBytes(text) == bytes;
    return text;
}

QByteArray ToFileBytes(const TFileText& text)
{
    if (text.Encoding == TFileEncoding::Bytes)
        return text.Data;
    const bool little = text.Encoding == TFileEncoding::Utf16LE;
    QStringEncoder encoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                           QStringEncoder::Flag::Stateless);
    return QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + encoder(QString::fromUtf8(text.Data));
}

QString Limited(QString text, int size)
{
    if (size < 1)
        return {};
    if (text.size() > size - 1) {
        qsizetype keep = size - 1;
        // Never cut a character in half.
        if (keep > 0 && text.at(keep - 1).isHighSurrogate())
            --keep;
        text.truncate(keep);
    }
    return text;
}

std::optional<QString> ReadValue(const QByteArray& data, const QString& section, const QString& key)
{
    const QByteArray wanted = RequestedName(key);
    std::optional<QString> found;
    if (wanted.isEmpty())
        return found;
    ScanSection(data, RequestedName(section), [&](const TLine& line) {
        if (!NameMatches(data, line.Name, wanted))
            return true;
        const TSpan value = Unquoted(data, line.Value);
        found = Decode(QByteArrayView(data.constData() + value.Begin, value.End - value.Begin));
        return false;
    });
    return found;
}

QList<QPair<QString, QString>> SectionValues(const QByteArray& data, const QString& section,
                                             int namesSize, int valueSize)
{
    QList<QPair<QString, QString>> pairs;
    QHash<QByteArray, QString> firstValues; // a name reads as its first occurrence's value
    qsizetype used = 1;                     // the list's final terminator
    ScanSection(data, RequestedName(section), [&](const TLine& line) {
        const qsizetype length = line.Name.End - line.Name.Begin;
        if (used + length + 1 > namesSize)
            return false;
        used += length + 1;
        const QByteArrayView name(data.constData() + line.Name.Begin, length);
        QByteArray folded = name.toByteArray();
        for (char& c : folded)
            c = AsciiLower(c);
        auto first = firstValues.find(folded);
        if (first == firstValues.end()) {
            const TSpan value = Unquoted(data, line.Value);
            first = firstValues.insert(folded,
                                       Limited(Decode(QByteArrayView(data.constData() + value.Begin,
                                                                     value.End - value.Begin)),
                                               valueSize));
        }
        pairs.append({Decode(name), *first});
        return true;
    });
    return pairs;
}

bool ApplyWrite(QByteArray& data, const TProfileWrite& write, bool& ok)
{
    const QByteArray sectionName = RequestedName(write.Section);
    const QByteArray keyName = RequestedName(write.Key);
    if (keyName.isEmpty() || keyName.contains('=') || keyName.startsWith(';') ||
        keyName.startsWith('[')) {
        ok = false;
        return false;
    }
    const QString text = WithoutLineBreaks(write.Value);

    std::optional<TLine> keyLine;
    const TSectionPlace place = ScanSection(data, sectionName, [&](const TLine& line) {
        if (!NameMatches(data, line.Name, keyName))
            return true;
        keyLine = line;
        return false;
    });

    const QByteArray lineBreak = LineBreakOf(data);
    const QByteArray encoded = EncodedValue(text);
    if (keyLine) {
        const TSpan old = Unquoted(data, keyLine->Value);
        if (Decode(QByteArrayView(data.constData() + old.Begin, old.End - old.Begin)) == text)
            return false;
        // Keep everything up to where the old value began: the key's spelling and spacing.
        const qsizetype valueAt =
            keyLine->Value.IsEmpty() ? keyLine->Equals + 1 : keyLine->Value.Begin;
        data.replace(valueAt, keyLine->End - valueAt, encoded);
    } else if (place.Found) {
        QByteArray line;
        if (place.InsertNeedsBreak)
            line.append(lineBreak);
        line.append(keyName).append('=').append(encoded).append(lineBreak);
        // A key name that begins like a byte order mark, at the very start of the file, would
        // be taken for one: give the file a real one in front of it.
        if (place.InsertAt == 0 && line.startsWith(Utf8Bom))
            line.prepend(Utf8Bom);
        data.insert(place.InsertAt, line);
    } else {
        if (!data.isEmpty() && data != Utf8Bom) {
            if (!data.endsWith('\n') && !data.endsWith('\r'))
                data.append(lineBreak);
            data.append(lineBreak);
        }
        data.append('[').append(sectionName).append(']').append(lineBreak);
        data.append(keyName).append('=').append(encoded).append(lineBreak);
    }
    return true;
}

} // namespace profile
