#include "JsonDebugText.h"

#include <QJsonDocument>
#include <QLocale>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Qt's parser refuses deeper documents; this only keeps the stack bounded.
constexpr int maxDepth = 1100;

// A longer text (in UTF-16 units) is left to Qt's writer: it is written whole
// before it is cut, since only its end tells the order of its first keys.
constexpr qsizetype maxUnits = 2 * 1024 * 1024;

// UTF-8 bytes of a unit of text whose surrogates come in pairs (two each).
int utf8Bytes(char16_t u)
{
    return u < 0x80 ? 1 : (u < 0x800 || QChar::isSurrogate(u)) ? 2 : 3;
}

// Reads a message's bytes as Qt's parser would and writes what Qt's compact
// writer writes for the result, counting its bytes of UTF-8: members sorted
// by key (UTF-16 order), the last of duplicate keys kept, Qt's escapes and
// number forms. It gives up on whatever it does not reproduce exactly, and
// on a text past maxUnits.
// Its text is used only for a message that Qt's parser took, so it checks
// only what it must to stay within the bytes: Qt has refused broken UTF-8,
// bad escape digits and malformed numbers already.
class Writer
{
public:
    Writer(QByteArrayView json, QLatin1StringView before)
        : m_p(json.data()), m_end(json.data() + json.size()), m_before(before.size())
    {
        // About the message's size: grown as it goes, the text would be copied over and over.
        m_out.resize(before.size() + std::min(json.size(), maxUnits) + 64);
        m_data = reinterpret_cast<char16_t *>(m_out.data());
        append(before.data(), before.size());
    }

    bool document()
    {
        if (byteOrderMark(m_p))
            m_p += 3; // Qt's parser skips it
        ascii("QJsonObject(");
        skipSpace();
        if (m_p == m_end || *m_p != '{' || !container(0))
            return false;
        skipSpace();
        put(')');
        return m_p == m_end && !m_over;
    }

    // The text kept to `maxBytes` of UTF-8 after `before`, ending on a whole
    // character, then what was left out.
    QString take(qint64 maxBytes)
    {
        qint64 kept = 0;
        for (qsizetype at = m_before; m_bytes > maxBytes && at < m_length;) {
            const bool pair = QChar::isHighSurrogate(m_data[at]);
            const int bytes = pair ? 4 : utf8Bytes(m_data[at]);
            if (kept + bytes > maxBytes)
                return m_out.first(at) + JsonDebugText::moreText(m_bytes - kept);
            kept += bytes;
            at += pair ? 2 : 1;
        }
        m_out.resize(m_length);
        return std::move(m_out);
    }

private:
    struct Member
    {
        size_t keyOffset;
        size_t keyLength;
        qsizetype textStart;
        qsizetype textEnd;
    };

    std::u16string_view key(const Member &m) const
    {
        return std::u16string_view(m_keys).substr(m.keyOffset, m.keyLength);
    }

    // Room for `n` more units, unless that is past maxUnits.
    bool room(qsizetype n)
    {
        if (m_length + n > maxUnits + m_before)
            m_over = true;
        else if (m_length + n > m_out.size()) {
            m_out.resize(std::max(m_out.size() * 2, m_length + n));
            m_data = reinterpret_cast<char16_t *>(m_out.data());
        }
        return !m_over;
    }

    // Units kept, ASCII bytes widened.
    template <typename Unit> void append(const Unit *s, qsizetype n)
    {
        if (!room(n))
            return;
        std::copy_n(s, n, m_data + m_length);
        m_length += n;
    }

    void ascii(const char *s, qsizetype n)
    {
        append(s, n);
        m_bytes += n;
    }
    void ascii(std::string_view s) { ascii(s.data(), qsizetype(s.size())); }
    void put(char c) { ascii(&c, 1); }

    // A JSON string's content as Qt writes it: quote, backslash, control
    // characters and lone surrogates escaped, everything else as it is.
    void escaped(const char16_t *s, qsizetype n)
    {
        static constexpr std::u16string_view forms = u"\"\"\\\\\bb\ff\nn\rr\tt";
        for (qsizetype i = 0; i < n;) {
            qsizetype run = i;
            while (run < n) {
                const bool pair =
                    QChar::isHighSurrogate(s[run]) && run + 1 < n && QChar::isLowSurrogate(s[run + 1]);
                if (!pair &&
                    (s[run] < 0x20 || s[run] == u'"' || s[run] == u'\\' || QChar::isSurrogate(s[run])))
                    break;
                m_bytes += pair ? 4 : utf8Bytes(s[run]);
                run += pair ? 2 : 1;
            }
            append(s + i, run - i);
            if (run == n)
                break;
            const size_t form = forms.find(s[run]);
            char escape[6] = {'\\', form % 2 == 0 ? char(forms[form + 1]) : 'u'};
            for (int shift = 12, at = 2; form % 2 != 0 && shift >= 0; shift -= 4)
                escape[at++] = "0123456789abcdef"[(s[run] >> shift) & 0xf];
            ascii(escape, form % 2 == 0 ? 2 : 6);
            i = run + 1;
        }
    }

    bool byteOrderMark(const char *p) const
    {
        return m_end - p >= 3 && std::memcmp(p, "\xef\xbb\xbf", 3) == 0;
    }

    void skipSpace()
    {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
            ++m_p;
    }

    // Written out and skipped, if `c` comes next.
    bool take(char c)
    {
        skipSpace();
        if (m_p == m_end || *m_p != c)
            return false;
        put(*m_p++);
        skipSpace();
        return true;
    }

    bool value(int depth)
    {
        if (m_p == m_end || m_over || depth > maxDepth)
            return false;
        switch (*m_p) {
        case '{':
        case '[':
            return container(depth + 1);
        case '"':
            return string(nullptr);
        default:
            return literal("true") || literal("false") || literal("null") || number();
        }
    }

    bool literal(std::string_view word)
    {
        if (size_t(m_end - m_p) < word.size() || std::string_view(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        ascii(word);
        return true;
    }

    // An object or an array, at its opening bracket.
    bool container(int depth)
    {
        const bool object = *m_p == '{';
        const char closing = object ? '}' : ']';
        const qsizetype start = m_length;
        const size_t firstMember = m_members.size();
        const size_t keysMark = m_keys.size();
        put(*m_p++);
        bool closed = take(closing);
        while (!closed) {
            Member member{m_keys.size(), 0, m_length, 0};
            if (object) {
                if (m_p == m_end || *m_p != '"' || !string(&m_keys))
                    return false;
                member.keyLength = m_keys.size() - member.keyOffset;
                // Qt orders keys beyond U+D7FF by how they were written; not worth copying.
                const std::u16string_view name = key(member);
                if (std::any_of(name.begin(), name.end(), [](char16_t u) { return u >= 0xd800; }) ||
                    !take(':'))
                    return false;
            }
            if (!value(depth))
                return false;
            member.textEnd = m_length;
            if (object)
                m_members.push_back(member);
            closed = take(closing);
            if (!closed && !take(','))
                return false;
        }
        const bool sorted = !m_over && sortMembers(start, firstMember);
        m_members.resize(firstMember);
        m_keys.resize(keysMark);
        return sorted;
    }

    // Members are written in arrival order; most senders already sort them.
    // The copying is bounded: an object deep in many unsorted ones is copied
    // once for each.
    bool sortMembers(qsizetype start, size_t firstMember)
    {
        const auto first = m_members.begin() + qsizetype(firstMember);
        if (std::is_sorted(first, m_members.end(),
                           [this](const Member &a, const Member &b) { return key(a) <= key(b); }))
            return true;
        if ((m_copied += m_length - start) > 4 * maxUnits)
            return false;
        std::stable_sort(first, m_members.end(),
                         [this](const Member &a, const Member &b) { return key(a) < key(b); });
        // Kept between objects: no allocation once it is large enough.
        m_sorted.assign(1, u'{');
        m_sorted.reserve(size_t(m_length - start));
        for (auto it = first; it != m_members.end(); ++it) {
            const std::u16string_view text(m_data + it->textStart, size_t(it->textEnd - it->textStart));
            // Of equal keys, the one that came last wins; the other and its comma go.
            if (it + 1 != m_members.end() && key(*it) == key(*(it + 1))) {
                m_bytes -= std::accumulate(text.begin(), text.end(), qint64(1),
                                           [](qint64 sum, char16_t u) { return sum + utf8Bytes(u); });
                continue;
            }
            if (m_sorted.size() > 1)
                m_sorted.push_back(u',');
            m_sorted.append(text);
        }
        m_sorted.push_back(u'}');
        m_length = start;
        append(m_sorted.data(), qsizetype(m_sorted.size()));
        return true;
    }

    // What goes out as it is.
    static bool plain(char c) { return uchar(c) >= 0x20 && uchar(c) < 0x80 && c != '"' && c != '\\'; }

    // The end of a run of plain bytes; eight at a time, since a message is
    // mostly such runs.
    const char *plainEnd(const char *p) const
    {
        constexpr quint64 ones = 0x0101010101010101;
        constexpr quint64 high = ones * 0x80;
        for (; m_end - p >= 8; p += 8) {
            const auto w = qFromLittleEndian<quint64>(p);
            const quint64 quote = w ^ (ones * '"');
            const quint64 backslash = w ^ (ones * '\\');
            // A byte below 0x20 or from 0x80, or a zero byte in `quote` or `backslash`,
            // leaves its top bit set; so may the bytes after it, never one before.
            const quint64 found = (((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) |
                                   ((backslash - ones) & ~backslash) | w) &
                                  high;
            if (found)
                return p + qCountTrailingZeroBits(found) / 8;
        }
        while (p != m_end && plain(*p))
            ++p;
        return p;
    }

    // The string at its opening quote: runs of ASCII that goes out as it is,
    // between them what is decoded and escaped; a key's units also go to
    // `key`, for the ordering.
    bool string(std::u16string *key)
    {
        const char *p = m_p + 1;
        // Qt's parser drops a byte order mark that starts a string, not always.
        if (byteOrderMark(p))
            return false;
        put('"');
        for (;;) {
            const char *run = plainEnd(p);
            ascii(p, run - p);
            if (key && !m_over) // the units just written
                key->append(m_data + m_length - (run - p), size_t(run - p));
            if ((p = run) == m_end || *p == '"' || m_over)
                break;
            m_units.clear();
            while (p != m_end && *p != '"' && !plain(*p))
                if (!character(p))
                    return false;
            escaped(m_units.data(), qsizetype(m_units.size()));
            if (key)
                key->append(m_units);
        }
        if (p == m_end || m_over)
            return false;
        m_p = p + 1;
        put('"');
        return true;
    }

    // One character at `p` that does not go out as it is, decoded as Qt's
    // parser reads it: an escape, a control character, or UTF-8.
    bool character(const char *&p)
    {
        static constexpr std::string_view forms = "\"\"\\\\//b\bf\fn\nr\rt\t";
        const uchar c = uchar(*p++);
        if (c == '\\' && m_end - p >= 5 && *p == 'u') {
            unsigned code = 0;
            std::from_chars(p + 1, p + 5, code, 16);
            m_units.push_back(char16_t(code));
            p += 5;
        } else if (c == '\\' && p != m_end) {
            // Qt takes any other escape as the character itself.
            const size_t form = forms.find(*p);
            m_units.push_back(uchar(form % 2 == 0 ? forms[form + 1] : *p));
            ++p;
            return form % 2 == 0;
        } else if (c >= 0x80) {
            const int length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : 2;
            if (m_end - p < length - 1)
                return false;
            char32_t code = c & (0x3f >> (length - 1));
            for (int i = 1; i < length; ++i)
                code = (code << 6) | (uchar(*p++) & 0x3f);
            if (code >= 0x10000)
                m_units.push_back(char16_t(0xd7c0 + (code >> 10)));
            m_units.push_back(char16_t(code >= 0x10000 ? 0xdc00 | (code & 0x3ff) : code));
        } else {
            m_units.push_back(c); // a raw control character; Qt may not take a NUL
            return c != 0;
        }
        return true;
    }

    // Qt keeps a number as an integer when its text is an integer that fits
    // 64 bits, otherwise as a double; a double of integral value in the 64-bit
    // range it prints as an integer, others in the shortest form that reads
    // back the same.
    bool number()
    {
        const char *start = m_p;
        // Qt's parser also takes a number that starts with its point.
        while (m_p != m_end && std::string_view("0123456789-+.eE").find(*m_p) != std::string_view::npos)
            ++m_p;
        qint64 integer = 0;
        if (const auto asInteger = std::from_chars(start, m_p, integer);
            asInteger.ec != std::errc() || asInteger.ptr != m_p) {
            double d = 0;
            const auto asDouble = std::from_chars(start, m_p, d);
            if (asDouble.ec != std::errc() || asDouble.ptr != m_p || !std::isfinite(d))
                return false;
            if (d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0) {
                const QByteArray text = QString::number(d, 'g', QLocale::FloatingPointShortest).toLatin1();
                ascii(text.constData(), text.size());
                return true;
            }
            integer = qint64(d);
        }
        char digits[24];
        ascii(digits, std::to_chars(digits, digits + sizeof digits, integer).ptr - digits);
        return true;
    }

    const char *m_p;
    const char *const m_end;
    QString m_out;
    char16_t *m_data = nullptr; // m_out's units, of which the first m_length are written
    qsizetype m_length = 0;
    const qsizetype m_before;
    qint64 m_bytes = 0; // UTF-8 of the text after `before`
    bool m_over = false;
    qsizetype m_copied = 0; // units copied to sort members
    std::vector<Member> m_members;
    std::u16string m_keys; // the keys of the objects being written, nested ones last
    std::u16string m_sorted;
    std::u16string m_units; // a string's piece being escaped, surrogate pairs whole
};

} // namespace

QString JsonDebugText::fromMessage(QByteArrayView json, QLatin1StringView before, qsizetype maxBytes)
{
    Writer writer(json, before);
    return writer.document() ? writer.take(maxBytes) : QString();
}

QString JsonDebugText::fromObject(const QJsonObject &object, QLatin1StringView before, qsizetype maxBytes)
{
    const QByteArray text = "QJsonObject(" + QJsonDocument(object).toJson(QJsonDocument::Compact) + ')';
    if (text.size() <= maxBytes)
        return before + QString::fromUtf8(text);
    qsizetype at = maxBytes;
    while ((uchar(text.at(at)) & 0xc0) == 0x80)
        --at;
    return before + QString::fromUtf8(text.first(at)) + moreText(text.size() - at);
}

QString JsonDebugText::moreText(qint64 bytes)
{
    return QStringLiteral(" … (%1 more bytes)").arg(bytes);
}
