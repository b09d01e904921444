#include "JsonDebugText.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>

#include <QJsonDocument>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Qt's parser refuses deeper documents; this only keeps the stack bounded.
constexpr int maxDepth = 1100;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isHighSurrogate(char16_t u)
{
    return u >= 0xd800 && u <= 0xdbff;
}

bool isLowSurrogate(char16_t u)
{
    return u >= 0xdc00 && u <= 0xdfff;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Qt orders keys by code point or by UTF-16 unit depending on how each was
// written (escaped or not); the two agree below U+E000 and on keys of only
// such characters, which is all a terminal sends.
bool orderedLikeQt(std::u16string_view key)
{
    return std::all_of(key.begin(), key.end(), [](char16_t u) { return u < 0xd800; });
}

// The length of the run of printable ASCII at the start of [s, end).
size_t printableRun(const uchar *s, const uchar *end)
{
    const uchar *p = s;
#ifdef __SSE2__
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - p >= 16) {
        // Signed compare: bytes from 0x80 up count as negative, below the space too.
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const int mask = _mm_movemask_epi8(_mm_cmplt_epi8(chunk, space));
        if (mask != 0)
            return size_t(p - s) + size_t(__builtin_ctz(unsigned(mask)));
        p += 16;
    }
#endif
    while (p != end && *p >= 0x20 && *p < 0x80)
        ++p;
    return size_t(p - s);
}

void widen(const uchar *s, size_t length, char16_t *out)
{
    size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= length; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_unpackhi_epi8(chunk, zero));
    }
#endif
    for (; i < length; ++i)
        out[i] = s[i];
}

// One character of strict UTF-8 (no overlong forms, no encoded surrogates,
// nothing past U+10FFFF): its length in bytes, or 0.
int utf8Char(const uchar *s, const uchar *end, char32_t &code)
{
    const auto left = end - s;
    const auto continuation = [&](int i) {
        return (s[i] & 0xc0) == 0x80;
    };
    const uchar c = s[0];
    if (c >= 0xc2 && c <= 0xdf) {
        if (left < 2 || !continuation(1))
            return 0;
        code = (char32_t(c & 0x1f) << 6) | (s[1] & 0x3f);
        return 2;
    }
    if (c >= 0xe0 && c <= 0xef) {
        if (left < 3 || !continuation(1) || !continuation(2))
            return 0;
        if ((c == 0xe0 && s[1] < 0xa0) || (c == 0xed && s[1] > 0x9f))
            return 0;
        code = (char32_t(c & 0x0f) << 12) | (char32_t(s[1] & 0x3f) << 6) | (s[2] & 0x3f);
        return 3;
    }
    if (c >= 0xf0 && c <= 0xf4) {
        if (left < 4 || !continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        if ((c == 0xf0 && s[1] < 0x90) || (c == 0xf4 && s[1] > 0x8f))
            return 0;
        code = (char32_t(c & 0x07) << 18) | (char32_t(s[1] & 0x3f) << 12) | (char32_t(s[2] & 0x3f) << 6) |
               (s[3] & 0x3f);
        return 4;
    }
    return 0;
}

// Writes a code point as one UTF-16 unit or a surrogate pair; returns the end.
char16_t *putUtf16(char16_t *out, char32_t code)
{
    if (code < 0x10000) {
        *out++ = char16_t(code);
    } else {
        *out++ = char16_t(0xd7c0 + (code >> 10));
        *out++ = char16_t(0xdc00 | (code & 0x3ff));
    }
    return out;
}

// A control character as Qt writes it: a short escape or \u00XX.
int controlLength(char32_t c)
{
    return (c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t') ? 2 : 6;
}

// Qt's escape of one UTF-16 unit in a JSON string, written at cursor.
char16_t *escape(char16_t *cursor, char16_t u)
{
    *cursor++ = u'\\';
    switch (u) {
    case u'"':
        *cursor++ = u'"';
        break;
    case u'\\':
        *cursor++ = u'\\';
        break;
    case u'\b':
        *cursor++ = u'b';
        break;
    case u'\f':
        *cursor++ = u'f';
        break;
    case u'\n':
        *cursor++ = u'n';
        break;
    case u'\r':
        *cursor++ = u'r';
        break;
    case u'\t':
        *cursor++ = u't';
        break;
    default:
        *cursor++ = u'u';
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (u >> shift) & 0xf;
            *cursor++ = char16_t(digit < 10 ? u'0' + digit : u'a' + digit - 10);
        }
    }
    return cursor;
}

// Re-writes a JSON document the way Qt's compact writer does, into UTF-16:
// object members sorted by key (UTF-16 order), the last of duplicate keys
// kept, strings escaped as Qt escapes them, numbers as Qt stores and prints
// them. Anything unexpected makes it give up.
class Writer
{
public:
    Writer(const char *begin, const char *end, qsizetype limit) : m_p(begin), m_end(end), m_limit(limit) {}

    QString document(QLatin1StringView before)
    {
        m_limit += before.size() + 12; // "QJsonObject(" is not counted
        m_out.resize(std::min(before.size() + qsizetype(m_end - m_p) + 32, m_limit + 64));
        m_data = reinterpret_cast<char16_t *>(m_out.data());
        m_capacity = m_out.size();
        putLatin1(std::string_view(before.data(), size_t(before.size())));
        putLatin1("QJsonObject(");
        skipSpace();
        if (m_p == m_end || *m_p != '{' || !object(0) || m_overflow)
            return {};
        skipSpace();
        if (m_p != m_end)
            return {};
        put(u')');
        m_out.resize(m_length);
        return std::move(m_out);
    }

private:
    struct Member
    {
        size_t keyOffset;
        size_t keyLength;
        qsizetype textStart; // the key's opening quote in the output
        qsizetype textEnd;
    };

    std::u16string_view key(const Member &m) const
    {
        return std::u16string_view(m_keys).substr(m.keyOffset, m.keyLength);
    }

    void skipSpace()
    {
        while (m_p != m_end && isSpace(*m_p))
            ++m_p;
    }

    // False, writing nothing more, once the text would pass the limit: the
    // text of a larger message is never held whole.
    bool reserve(qsizetype more)
    {
        if (m_length + more <= m_capacity)
            return true;
        if (m_length + more > m_limit) {
            m_overflow = true;
            return false;
        }
        m_capacity = std::min(std::max(m_capacity * 2, m_length + more), m_limit);
        m_out.resize(m_capacity);
        m_data = reinterpret_cast<char16_t *>(m_out.data());
        return true;
    }

    void put(char16_t c)
    {
        if (reserve(1))
            m_data[m_length++] = c;
    }

    void putLatin1(std::string_view text)
    {
        if (!reserve(qsizetype(text.size())))
            return;
        for (char c : text)
            m_data[m_length++] = char16_t(uchar(c));
    }

    bool value(int depth)
    {
        if (m_p == m_end)
            return false;
        switch (*m_p) {
        case '{':
            return object(depth + 1);
        case '[':
            return array(depth + 1);
        case '"': {
            if (plainString())
                return true;
            m_scratch.clear();
            if (!decodeString(m_scratch))
                return false;
            putString(m_scratch);
            return true;
        }
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number();
        }
    }

    bool literal(std::string_view word)
    {
        if (size_t(m_end - m_p) < word.size() || std::string_view(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        putLatin1(word);
        return true;
    }

    bool object(int depth)
    {
        if (depth > maxDepth)
            return false;
        ++m_p; // '{'
        const qsizetype start = m_length;
        put(u'{');
        const size_t firstMember = m_members.size();
        const size_t keysMark = m_keys.size();
        skipSpace();
        if (m_p != m_end && *m_p == '}') {
            ++m_p;
            put(u'}');
            return true;
        }
        for (;;) {
            if (m_p == m_end || *m_p != '"')
                return false;
            Member member{m_keys.size(), 0, m_length, 0};
            if (!plainKey()) {
                if (!decodeString(m_keys))
                    return false;
                member.keyLength = m_keys.size() - member.keyOffset;
                if (!orderedLikeQt(key(member)))
                    return false;
                putString(key(member));
            } else {
                member.keyLength = m_keys.size() - member.keyOffset;
            }
            skipSpace();
            if (m_p == m_end || *m_p != ':')
                return false;
            ++m_p;
            put(u':');
            skipSpace();
            if (!value(depth))
                return false;
            if (m_overflow)
                return false;
            member.textEnd = m_length;
            m_members.push_back(member);
            const Next next = afterItem('}');
            if (next == Next::Broken)
                return false;
            if (next == Next::Closed)
                break;
        }
        sortMembers(start, firstMember);
        put(u'}');
        m_members.resize(firstMember);
        m_keys.resize(keysMark);
        return true;
    }

    enum class Next { More, Closed, Broken };

    // After a member or an element: a comma (written out) and more to come,
    // or the closing bracket (left to the caller to write).
    Next afterItem(char closing)
    {
        skipSpace();
        if (m_p == m_end)
            return Next::Broken;
        if (*m_p == ',') {
            ++m_p;
            put(u',');
            skipSpace();
            return Next::More;
        }
        if (*m_p != closing)
            return Next::Broken;
        ++m_p;
        return Next::Closed;
    }

    // Members are written in arrival order; most senders already sort them.
    void sortMembers(qsizetype start, size_t firstMember)
    {
        const auto first = m_members.begin() + qsizetype(firstMember);
        const auto last = m_members.end();
        const bool sorted = std::adjacent_find(first, last, [this](const Member &a, const Member &b) {
                                return !(key(a) < key(b));
                            }) == last;
        if (sorted)
            return;
        std::vector<Member> order(first, last);
        std::stable_sort(order.begin(), order.end(),
                         [this](const Member &a, const Member &b) { return key(a) < key(b); });
        std::u16string text;
        text.reserve(size_t(m_length - start));
        for (size_t i = 0; i < order.size(); ++i) {
            // Of equal keys, the one that came last wins.
            if (i + 1 < order.size() && key(order[i]) == key(order[i + 1]))
                continue;
            if (!text.empty())
                text.push_back(u',');
            text.append(m_data + order[i].textStart, size_t(order[i].textEnd - order[i].textStart));
        }
        m_length = start + 1;
        if (!reserve(qsizetype(text.size())))
            return;
        std::copy(text.begin(), text.end(), m_data + m_length);
        m_length += qsizetype(text.size());
    }

    bool array(int depth)
    {
        if (depth > maxDepth)
            return false;
        ++m_p; // '['
        put(u'[');
        skipSpace();
        if (m_p != m_end && *m_p == ']') {
            ++m_p;
            put(u']');
            return true;
        }
        for (;;) {
            if (!value(depth) || m_overflow)
                return false;
            const Next next = afterItem(']');
            if (next == Next::Broken)
                return false;
            if (next == Next::Closed) {
                put(u']');
                return true;
            }
        }
    }

    // Appends the string starting at the opening quote, decoded, to `out`.
    bool decodeString(std::u16string &out)
    {
        ++m_p; // '"'
        for (;;) {
            if (m_p == m_end || qsizetype(out.size()) > m_limit)
                return false;
            const uchar c = uchar(*m_p);
            if (c == '"') {
                ++m_p;
                return true;
            }
            if (c == '\\') {
                if (!decodeEscape(out))
                    return false;
                continue;
            }
            if (c == 0)
                return false;
            if (c < 0x80) {
                out.push_back(c);
                ++m_p;
                continue;
            }
            if (!decodeUtf8(out))
                return false;
        }
    }

    bool decodeEscape(std::u16string &out)
    {
        if (m_end - m_p < 2)
            return false;
        const char e = m_p[1];
        m_p += 2;
        switch (e) {
        case '"':
        case '\\':
        case '/':
            out.push_back(char16_t(e));
            return true;
        case 'b':
            out.push_back(u'\b');
            return true;
        case 'f':
            out.push_back(u'\f');
            return true;
        case 'n':
            out.push_back(u'\n');
            return true;
        case 'r':
            out.push_back(u'\r');
            return true;
        case 't':
            out.push_back(u'\t');
            return true;
        case 'u': {
            if (m_end - m_p < 4)
                return false;
            int code = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = hexValue(m_p[i]);
                if (digit < 0)
                    return false;
                code = code * 16 + digit;
            }
            m_p += 4;
            out.push_back(char16_t(code));
            return true;
        }
        default:
            return false;
        }
    }

    bool decodeUtf8(std::u16string &out)
    {
        char32_t code = 0;
        const int length =
            utf8Char(reinterpret_cast<const uchar *>(m_p), reinterpret_cast<const uchar *>(m_end), code);
        if (length == 0)
            return false;
        m_p += length;
        char16_t units[2];
        out.append(units, size_t(putUtf16(units, code) - units));
        return true;
    }

    // A key of printable ASCII, the usual case: kept for the ordering and
    // written out as it is.
    bool plainKey()
    {
        const char *begin = m_p + 1;
        const auto *quote = static_cast<const char *>(std::memchr(begin, '"', size_t(m_end - begin)));
        if (!quote)
            return false;
        const size_t run = size_t(quote - begin);
        const auto *bytes = reinterpret_cast<const uchar *>(begin);
        if (printableRun(bytes, bytes + run) != run || std::memchr(begin, '\\', run))
            return false;
        const size_t offset = m_keys.size();
        if (!reserve(qsizetype(run) + 2))
            return false;
        m_keys.resize(offset + run);
        widen(bytes, run, m_keys.data() + offset);
        m_data[m_length++] = u'"';
        widen(bytes, run, m_data + m_length);
        m_length += qsizetype(run);
        m_data[m_length++] = u'"';
        m_p += run + 2;
        return true;
    }

    // A string value without escapes, the usual case: straight from the
    // bytes to the output, with no copy in between.
    bool plainString()
    {
        const char *begin = m_p + 1;
        const auto *quote = static_cast<const char *>(std::memchr(begin, '"', size_t(m_end - begin)));
        if (!quote || std::memchr(begin, '\\', size_t(quote - begin)))
            return false;
        // Room for the worst case, or, near the limit, for exactly what it takes.
        const qsizetype worst = qsizetype(quote - begin) * 6 + 2;
        if (!reserve(m_length + worst <= m_limit ? worst : escapedLength(begin, quote) + 2))
            return false;
        char16_t *cursor = m_data + m_length;
        *cursor++ = u'"';
        const auto *s = reinterpret_cast<const uchar *>(begin);
        const auto *end = reinterpret_cast<const uchar *>(quote);
        while (s != end) {
            const size_t run = printableRun(s, end);
            widen(s, run, cursor);
            s += run;
            cursor += run;
            if (s == end)
                break;
            const uchar c = *s;
            if (c >= 0x80) {
                char32_t code = 0;
                const int length = utf8Char(s, end, code);
                if (length == 0)
                    return false;
                s += length;
                cursor = putUtf16(cursor, code);
            } else {
                if (c == 0)
                    return false;
                cursor = escape(cursor, c);
                ++s;
            }
        }
        *cursor++ = u'"';
        m_length = cursor - m_data;
        m_p = quote + 1;
        return true;
    }

    // The UTF-16 units that plainString() writes for [begin, end), quotes aside.
    static qsizetype escapedLength(const char *begin, const char *end)
    {
        qsizetype units = 0;
        for (const char *p = begin; p != end; ++p) {
            const uchar c = uchar(*p);
            if (c < 0x20)
                units += controlLength(c);
            else if (c == '"' || c == '\\')
                units += 2;
            else if (c < 0x80 || (c & 0xc0) != 0x80)
                units += c >= 0xf0 ? 2 : 1; // a lead byte stands for its character
        }
        return units;
    }

    // Qt escapes quote, backslash, control characters and lone surrogates;
    // everything else goes through as it is.
    void putString(std::u16string_view s)
    {
        if (!reserve(qsizetype(s.size()) * 6 + 2))
            return;
        char16_t *cursor = m_data + m_length;
        *cursor++ = u'"';
        for (size_t i = 0; i < s.size(); ++i) {
            const char16_t u = s[i];
            if (u >= 0x20 && u != u'"' && u != u'\\' && (u < 0xd800 || u > 0xdfff)) {
                *cursor++ = u;
                continue;
            }
            if (isHighSurrogate(u) && i + 1 < s.size() && isLowSurrogate(s[i + 1])) {
                *cursor++ = u;
                *cursor++ = s[++i];
                continue;
            }
            cursor = escape(cursor, u);
        }
        *cursor++ = u'"';
        m_length = cursor - m_data;
    }

    // Qt keeps a number as an integer when its text is an integer that fits
    // 64 bits, or when its value is integral and in that range; otherwise
    // as a double, printed in the shortest form that reads back the same.
    bool number()
    {
        const char *start = m_p;
        bool integerSyntax = true;
        while (m_p != m_end) {
            const char c = *m_p;
            if (c >= '0' && c <= '9') {
                ++m_p;
            } else if (c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E') {
                if (!(c == '-' && m_p == start))
                    integerSyntax = false;
                ++m_p;
            } else {
                break;
            }
        }
        if (m_p == start)
            return false;
        if (integerSyntax) {
            qint64 integer = 0;
            const auto [end, error] = std::from_chars(start, m_p, integer);
            if (error == std::errc() && end == m_p) {
                putInteger(integer);
                return true;
            }
        }
        double d = 0;
        const auto [end, error] = std::from_chars(start, m_p, d);
        if (error != std::errc() || end != m_p || !std::isfinite(d))
            return false;
        if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
            putInteger(qint64(d));
            return true;
        }
        const QString text = QString::number(d, 'g', QLocale::FloatingPointShortest);
        if (!reserve(text.size()))
            return true;
        std::copy_n(reinterpret_cast<const char16_t *>(text.constData()), text.size(), m_data + m_length);
        m_length += text.size();
        return true;
    }

    void putInteger(qint64 value)
    {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        putLatin1(std::string_view(digits, size_t(result.ptr - digits)));
    }

    const char *m_p;
    const char *const m_end;
    qsizetype m_limit;
    bool m_overflow = false;
    QString m_out;
    char16_t *m_data = nullptr;
    qsizetype m_length = 0;
    qsizetype m_capacity = 0;
    std::vector<Member> m_members;
    std::u16string m_keys;    // the keys of the objects being written, nested ones last
    std::u16string m_scratch; // the string value being written
};

// The length of a number as Writer::number() writes it (all ASCII).
qsizetype numberLength(const char *start, const char *end)
{
    char digits[24];
    qint64 integer = 0;
    const auto asInteger = std::from_chars(start, end, integer);
    if (asInteger.ec == std::errc() && asInteger.ptr == end)
        return std::to_chars(digits, digits + sizeof digits, integer).ptr - digits;
    double d = 0;
    const auto asDouble = std::from_chars(start, end, d);
    if (asDouble.ec != std::errc() || !std::isfinite(d))
        return 0;
    if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
        return std::to_chars(digits, digits + sizeof digits, qint64(d)).ptr - digits;
    return QString::number(d, 'g', QLocale::FloatingPointShortest).size();
}

// UTF-8 bytes of a UTF-16 unit that is not a lone surrogate (a pair takes 4).
int utf8Bytes(char16_t u)
{
    return u < 0x80 ? 1 : u < 0x800 ? 2 : (u >= 0xd800 && u <= 0xdfff) ? 2 : 3;
}

// Writes a parsed object as Qt's debug stream does, keeping the text up to
// a number of UTF-8 bytes and only counting the rest.
class ObjectWriter
{
public:
    explicit ObjectWriter(qsizetype maxBytes) : m_maxBytes(maxBytes)
    {
        m_out.reserve(qsizetype(std::min<qint64>(maxBytes, 4096)) + 64);
    }

    // `total`: what the whole text takes, for when it is cut; the walk stops there.
    QString text(QLatin1StringView before, const QJsonObject &object, const std::function<qint64()> &total)
    {
        m_out.append(before);
        putLatin1("QJsonObject(");
        writeObject(object);
        put(u')');
        if (m_full)
            m_out.append(JsonDebugText::moreText(std::max<qint64>(total() - m_shown, 1)));
        return std::move(m_out);
    }

private:
    void put(char16_t u)
    {
        const int bytes = utf8Bytes(u);
        m_total += bytes;
        if (m_full)
            return;
        if (m_shown + bytes > m_maxBytes) {
            m_full = true;
            return;
        }
        m_shown += bytes;
        m_out.append(QChar(u));
    }

    void putPair(char16_t high, char16_t low)
    {
        m_total += 4;
        if (m_full)
            return;
        if (m_shown + 4 > m_maxBytes) {
            m_full = true;
            return;
        }
        m_shown += 4;
        m_out.append(QChar(high));
        m_out.append(QChar(low));
    }

    void putLatin1(std::string_view text)
    {
        for (char c : text)
            put(char16_t(uchar(c)));
    }

    void putString(const QString &s)
    {
        put(u'"');
        const auto *data = reinterpret_cast<const char16_t *>(s.constData());
        const qsizetype size = s.size();
        for (qsizetype i = 0; i < size && !m_full; ++i) {
            // A run that needs no escape goes in at once.
            qsizetype run = i;
            qint64 bytes = 0;
            while (run < size && data[run] >= 0x20 && data[run] < 0xd800 && data[run] != u'"' &&
                   data[run] != u'\\' && m_shown + bytes + 3 <= m_maxBytes)
                bytes += utf8Bytes(data[run++]);
            if (run > i) {
                m_out.append(QStringView(data + i, run - i));
                m_shown += bytes;
                m_total += bytes;
                i = run - 1;
                continue;
            }
            const char16_t u = data[i];
            if (u >= 0x20 && u != u'"' && u != u'\\' && (u < 0xd800 || u > 0xdfff)) {
                put(u);
            } else if (isHighSurrogate(u) && i + 1 < size && isLowSurrogate(data[i + 1])) {
                putPair(u, data[i + 1]);
                ++i;
            } else {
                char16_t escaped[6];
                const auto *end = escape(escaped, u);
                for (const char16_t *p = escaped; p != end; ++p)
                    put(*p);
            }
        }
        put(u'"');
    }

    void putNumber(const QJsonValue &value)
    {
        // Qt holds integral values of the 64-bit range as integers.
        const qint64 integer = value.toInteger(0);
        if (integer == value.toInteger(1)) {
            char digits[24];
            const auto result = std::to_chars(digits, digits + sizeof digits, integer);
            putLatin1(std::string_view(digits, size_t(result.ptr - digits)));
            return;
        }
        const double d = value.toDouble();
        if (!std::isfinite(d)) {
            putLatin1("null");
            return;
        }
        const QString text = QString::number(d, 'g', QLocale::FloatingPointShortest);
        for (const QChar c : text)
            put(c.unicode());
    }

    void writeValue(const QJsonValue &value)
    {
        switch (value.type()) {
        case QJsonValue::Null:
        case QJsonValue::Undefined:
            putLatin1("null");
            return;
        case QJsonValue::Bool:
            putLatin1(value.toBool() ? "true" : "false");
            return;
        case QJsonValue::Double:
            putNumber(value);
            return;
        case QJsonValue::String:
            putString(value.toString());
            return;
        case QJsonValue::Array: {
            put(u'[');
            const QJsonArray array = value.toArray();
            for (qsizetype i = 0; i < array.size() && !m_full; ++i) {
                if (i > 0)
                    put(u',');
                writeValue(array.at(i));
            }
            put(u']');
            return;
        }
        case QJsonValue::Object:
            writeObject(value.toObject());
            return;
        }
    }

    void writeObject(const QJsonObject &object)
    {
        put(u'{');
        for (auto it = object.begin(); it != object.end() && !m_full; ++it) {
            if (it != object.begin())
                put(u',');
            putString(it.key());
            put(u':');
            writeValue(it.value());
        }
        put(u'}');
    }

    const qsizetype m_maxBytes;
    QString m_out;
    qint64 m_shown = 0;
    qint64 m_total = 0;
    bool m_full = false;
};

} // namespace

QString JsonDebugText::fromMessage(QByteArrayView json, QLatin1StringView before, qsizetype limit)
{
    return Writer(json.data(), json.data() + json.size(), limit < 0 ? maxTextBytes * 8 : limit)
        .document(before);
}

QString JsonDebugText::fromObject(const QJsonObject &object, QLatin1StringView before, qsizetype maxBytes,
                                  qint64 totalBytes)
{
    return ObjectWriter(maxBytes).text(before, object, [&]() {
        return totalBytes >= 0 ? totalBytes : textBytes(QJsonDocument(object).toJson(QJsonDocument::Compact));
    });
}

qint64 JsonDebugText::textBytes(QByteArrayView json)
{
    // "QJsonObject(" and ")" around the compact text.
    qint64 total = 13;
    const char *p = json.data();
    const char *const end = p + json.size();
    while (p != end) {
        const uchar c = uchar(*p);
        if (isSpace(char(c))) {
            ++p;
        } else if (c == '"') {
            ++p;
            total += 2;
            while (p != end && *p != '"') {
                const uchar b = uchar(*p);
                if (b != '\\') {
                    // UTF-8 goes through as it is; control characters are escaped.
                    total += b >= 0x20 ? 1 : controlLength(b);
                    ++p;
                    continue;
                }
                if (end - p < 2)
                    return total;
                const char e = p[1];
                p += 2;
                if (e != 'u') {
                    // Qt takes an unknown escape as the character itself, a control character too.
                    total += e == '/' ? 1 : uchar(e) < 0x20 ? controlLength(uchar(e)) : 2;
                    continue;
                }
                if (end - p < 4)
                    return total;
                char32_t code = 0;
                for (int i = 0; i < 4; ++i)
                    code = code * 16 + char32_t(std::max(hexValue(p[i]), 0));
                p += 4;
                if (code < 0x20)
                    total += controlLength(code);
                else if (code == '"' || code == '\\')
                    total += 2;
                else if (code < 0x80)
                    total += 1;
                else if (code < 0x800)
                    total += 2;
                else if (isHighSurrogate(char16_t(code)) && end - p >= 6 && p[0] == '\\' && p[1] == 'u' &&
                         isLowSurrogate(char16_t((hexValue(p[2]) << 12) | (hexValue(p[3]) << 8) |
                                                 (hexValue(p[4]) << 4) | hexValue(p[5])))) {
                    total += 4;
                    p += 6;
                } else if (code >= 0xd800 && code <= 0xdfff) {
                    total += 6; // a lone surrogate, escaped
                } else {
                    total += 3;
                }
            }
            if (p != end)
                ++p;
        } else if (c == '-' || c == '.' || (c >= '0' && c <= '9')) {
            // Counted as the writer writes it; Qt's parser takes ".5" for 0.5.
            const char *start = p;
            while (p != end &&
                   (std::isdigit(uchar(*p)) || *p == '-' || *p == '+' || *p == '.' || *p == 'e' || *p == 'E'))
                ++p;
            total += numberLength(start, p);
        } else {
            ++total; // brackets, commas, colons, letters of the literals
            ++p;
        }
    }
    return total;
}

QString JsonDebugText::moreText(qint64 bytes)
{
    return QStringLiteral(" … (%1 more bytes)").arg(bytes);
}

// The UTF-8 length of text whose surrogates all come in pairs.
static qint64 utf8Length(const char16_t *s, qsizetype n)
{
    qint64 bytes = n;
    qsizetype i = 0;
#ifdef __SSE2__
    // One more byte from U+0080, one more from U+0800, one less for each half of a pair.
    const __m128i below80 = _mm_set1_epi16(0x7f);
    const __m128i below800 = _mm_set1_epi16(0x7ff);
    const __m128i surrogateBase = _mm_set1_epi16(short(0xd800 - 0x8000));
    const __m128i surrogateTop = _mm_set1_epi16(short(0xdfff - 0x8000));
    const __m128i bias = _mm_set1_epi16(short(0x8000));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        const int over80 = ~_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(u, below80), zero)) & 0xffff;
        if (!over80)
            continue;
        const int over800 = ~_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(u, below800), zero)) & 0xffff;
        const __m128i signedU = _mm_sub_epi16(u, bias);
        const int surrogate = _mm_movemask_epi8(_mm_andnot_si128(
            _mm_or_si128(_mm_cmplt_epi16(signedU, surrogateBase), _mm_cmpgt_epi16(signedU, surrogateTop)),
            _mm_set1_epi16(-1)));
        bytes += (__builtin_popcount(unsigned(over80)) + __builtin_popcount(unsigned(over800)) -
                  __builtin_popcount(unsigned(surrogate))) /
                 2;
    }
#endif
    for (; i < n; ++i)
        bytes += (s[i] >= 0x80) + (s[i] >= 0x800) - (s[i] >= 0xd800 && s[i] <= 0xdfff);
    return bytes;
}

QString JsonDebugText::capped(QString line, qsizetype start, qsizetype maxBytes)
{
    // Nothing to cut while even three bytes a unit would fit, or the whole fits.
    if ((line.size() - start) * 3 <= maxBytes ||
        utf8Length(reinterpret_cast<const char16_t *>(line.constData()) + start, line.size() - start) <=
            maxBytes)
        return line;
    const auto *data = reinterpret_cast<const char16_t *>(line.constData());
    qint64 shown = 0;
    qsizetype cut = -1;
    qint64 total = 0;
    for (qsizetype i = start; i < line.size(); ++i) {
        const bool pair = isHighSurrogate(data[i]) && i + 1 < line.size() && isLowSurrogate(data[i + 1]);
        const int bytes = pair ? 4 : utf8Bytes(data[i]);
        if (cut < 0 && shown + bytes > maxBytes)
            cut = i;
        if (cut < 0)
            shown += bytes;
        total += bytes;
        if (pair)
            ++i;
    }
    if (cut < 0)
        return line;
    line.truncate(cut);
    line.append(moreText(total - shown));
    return line;
}
