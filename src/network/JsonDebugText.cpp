#include "JsonDebugText.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
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

// Re-writes a JSON document the way Qt's compact writer does, into UTF-16:
// object members sorted by key (UTF-16 order), the last of duplicate keys
// kept, strings escaped as Qt escapes them, numbers as Qt stores and prints
// them. Anything unexpected makes it give up.
class Writer
{
public:
    Writer(const char *begin, const char *end) : m_p(begin), m_end(end) {}

    QString document(QLatin1StringView before)
    {
        m_out.resize(before.size() + qsizetype(m_end - m_p) + 32);
        m_data = reinterpret_cast<char16_t *>(m_out.data());
        m_capacity = m_out.size();
        putLatin1(std::string_view(before.data(), size_t(before.size())));
        putLatin1("QJsonObject(");
        skipSpace();
        if (m_p == m_end || *m_p != '{' || !object(0))
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

    void reserve(qsizetype more)
    {
        if (m_length + more <= m_capacity)
            return;
        m_capacity = std::max(m_capacity * 2, m_length + more);
        m_out.resize(m_capacity);
        m_data = reinterpret_cast<char16_t *>(m_out.data());
    }

    void put(char16_t c)
    {
        reserve(1);
        m_data[m_length++] = c;
    }

    void putLatin1(std::string_view text)
    {
        reserve(qsizetype(text.size()));
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
        reserve(qsizetype(text.size()));
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
            if (!value(depth))
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
            if (m_p == m_end)
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
        m_keys.resize(offset + run);
        widen(bytes, run, m_keys.data() + offset);
        reserve(qsizetype(run) + 2);
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
        reserve(qsizetype(quote - begin) * 6 + 2);
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

    // Qt escapes quote, backslash, control characters and lone surrogates;
    // everything else goes through as it is.
    void putString(std::u16string_view s)
    {
        reserve(qsizetype(s.size()) * 6 + 2);
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

    static char16_t *escape(char16_t *cursor, char16_t u)
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
        reserve(text.size());
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
    QString m_out;
    char16_t *m_data = nullptr;
    qsizetype m_length = 0;
    qsizetype m_capacity = 0;
    std::vector<Member> m_members;
    std::u16string m_keys;    // the keys of the objects being written, nested ones last
    std::u16string m_scratch; // the string value being written
};

} // namespace

QString JsonDebugText::fromMessage(QByteArrayView json, QLatin1StringView before)
{
    return Writer(json.data(), json.data() + json.size()).document(before);
}
