#include "JsonDebugText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLocale>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

// Qt's parser refuses deeper documents; this only keeps the stack bounded.
constexpr int maxDepth = 1100;

// UTF-8 bytes of a unit of text whose surrogates come in pairs (two each).
int utf8Bytes(char16_t u)
{
    return u < 0x80 ? 1 : (u < 0x800 || QChar::isSurrogate(u)) ? 2 : 3;
}

// Qt's debug text as it is written after `before`: kept until it passes
// `cap` bytes of UTF-8, then take() cuts it back to the cap on a whole
// character. Without `keep` it is only counted.
class Text
{
public:
    Text(QLatin1StringView before, qint64 cap, qsizetype expected, bool keep = true)
        : m_cap(cap), m_keep(keep)
    {
        if (keep) {
            m_out.resize(before.size() + expected + 64);
            m_data = reinterpret_cast<char16_t *>(m_out.data());
        }
        append(before.data(), before.size());
    }

    bool keeps() const { return m_keep; }
    bool full() const { return m_bytes > m_cap; }
    qint64 bytes() const { return m_bytes; }
    qsizetype size() const { return m_length; }
    const char16_t *data() const { return m_data; }

    QString take()
    {
        while (full()) {
            const bool pair = QChar::isLowSurrogate(m_data[m_length - 1]) && m_length >= 2 &&
                              QChar::isHighSurrogate(m_data[m_length - 2]);
            m_bytes -= pair ? 4 : utf8Bytes(m_data[m_length - 1]);
            m_length -= pair ? 2 : 1;
        }
        m_out.resize(m_length);
        return std::move(m_out);
    }

    // ASCII that goes out as it is, only up to just past the cap.
    void ascii(const char *s, qsizetype n)
    {
        if (full())
            return;
        n = m_cap - m_bytes >= n ? n : qsizetype(m_cap - m_bytes + 1);
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
        for (qsizetype i = 0; i < n && !full();) {
            qsizetype run = i;
            qint64 bytes = 0;
            while (run < n && bytes <= m_cap - m_bytes) {
                const bool pair =
                    QChar::isHighSurrogate(s[run]) && run + 1 < n && QChar::isLowSurrogate(s[run + 1]);
                if (!pair &&
                    (s[run] < 0x20 || s[run] == u'"' || s[run] == u'\\' || QChar::isSurrogate(s[run])))
                    break;
                bytes += pair ? 4 : utf8Bytes(s[run]);
                run += pair ? 2 : 1;
            }
            append(s + i, run - i);
            m_bytes += bytes;
            if (run == n || full())
                break;
            const size_t form = forms.find(s[run]);
            char escape[6] = {'\\', form % 2 == 0 ? char(forms[form + 1]) : 'u'};
            for (int shift = 12, at = 2; form % 2 != 0 && shift >= 0; shift -= 4)
                escape[at++] = "0123456789abcdef"[(s[run] >> shift) & 0xf];
            ascii(escape, form % 2 == 0 ? 2 : 6);
            i = run + 1;
        }
    }

    void integer(qint64 value)
    {
        char digits[24];
        ascii(digits, std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    }

    // Qt holds a double of integral value in the 64-bit range as an integer,
    // others it prints in the shortest form that reads back the same.
    void number(double d)
    {
        if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return integer(qint64(d));
        const QByteArray text = QString::number(d, 'g', QLocale::FloatingPointShortest).toLatin1();
        ascii(text.constData(), text.size());
    }

    // The text from `from` on becomes `text`, never longer. What a dropped
    // duplicate took stays counted: the text then gives up on the cap early.
    void replaceFrom(qsizetype from, std::u16string_view text)
    {
        m_length = from;
        append(text.data(), qsizetype(text.size()));
    }

private:
    // Units kept, ASCII bytes widened.
    template <typename Unit> void append(const Unit *s, qsizetype n)
    {
        if (!m_keep)
            return;
        if (m_length + n > m_out.size()) {
            m_out.resize(std::max(m_out.size() * 2, m_length + n));
            m_data = reinterpret_cast<char16_t *>(m_out.data());
        }
        std::copy_n(s, n, m_data + m_length);
        m_length += n;
    }

    QString m_out;
    char16_t *m_data = nullptr;
    qsizetype m_length = 0;
    const qint64 m_cap;
    qint64 m_bytes = 0;
    const bool m_keep;
};

// Reads a message's bytes as Qt's parser would and writes what Qt's compact
// writer writes for the result: members sorted by key (UTF-16 order), the
// last of duplicate keys kept, Qt's escapes and number forms. Writing, it
// gives up on whatever it does not reproduce exactly, and once past the cap;
// counting, it takes what Qt takes and counts duplicate keys as they came.
// Its text is used only for a message that Qt's parser took, so it checks
// only what it must to stay within the bytes: Qt has refused broken UTF-8,
// bad escape digits and malformed numbers already.
class Scanner
{
public:
    Scanner(QByteArrayView json, Text &text)
        : m_p(json.data()), m_end(json.data() + json.size()), m_text(text), m_writing(text.keeps())
    {}

    bool document()
    {
        if (byteOrderMark(m_p))
            m_p += 3; // Qt's parser skips it
        m_text.ascii("QJsonObject(");
        skipSpace();
        if (m_p == m_end || *m_p != '{' || !container(0))
            return false;
        skipSpace();
        m_text.put(')');
        return m_p == m_end && !m_text.full();
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
        m_text.put(*m_p++);
        skipSpace();
        return true;
    }

    bool value(int depth)
    {
        if (m_p == m_end || m_text.full() || depth > maxDepth)
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
        m_text.ascii(word);
        return true;
    }

    // An object or an array, at its opening bracket.
    bool container(int depth)
    {
        const bool object = *m_p == '{';
        const char closing = object ? '}' : ']';
        const qsizetype start = m_text.size();
        const size_t firstMember = m_members.size();
        const size_t keysMark = m_keys.size();
        m_text.put(*m_p++);
        bool closed = take(closing);
        while (!closed) {
            Member member{m_keys.size(), 0, m_text.size(), 0};
            if (object) {
                if (m_p == m_end || *m_p != '"' || !string(m_writing ? &m_keys : nullptr))
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
            member.textEnd = m_text.size();
            if (object && m_writing)
                m_members.push_back(member);
            closed = take(closing);
            if (!closed && !take(','))
                return false;
        }
        if (m_writing && !m_text.full())
            sortMembers(start, firstMember);
        m_members.resize(firstMember);
        m_keys.resize(keysMark);
        return true;
    }

    // Members are written in arrival order; most senders already sort them.
    void sortMembers(qsizetype start, size_t firstMember)
    {
        const auto first = m_members.begin() + qsizetype(firstMember);
        const auto less = [this](const Member &a, const Member &b) {
            return key(a) < key(b);
        };
        if (std::adjacent_find(first, m_members.end(), [&](const Member &a, const Member &b) {
                return !less(a, b);
            }) == m_members.end())
            return;
        std::stable_sort(first, m_members.end(), less);
        // Kept between objects: no allocation once it is large enough.
        m_sorted.assign(1, u'{');
        m_sorted.reserve(size_t(m_text.size() - start));
        for (auto it = first; it != m_members.end(); ++it) {
            // Of equal keys, the one that came last wins.
            if (it + 1 != m_members.end() && key(*it) == key(*(it + 1)))
                continue;
            if (m_sorted.size() > 1)
                m_sorted.push_back(u',');
            m_sorted.append(m_text.data() + it->textStart, size_t(it->textEnd - it->textStart));
        }
        m_sorted.push_back(u'}');
        m_text.replaceFrom(start, m_sorted);
    }

    // What goes out as it is; counted, UTF-8 does too.
    bool plain(char c) const
    {
        return uchar(c) >= 0x20 && (uchar(c) < 0x80 || !m_writing) && c != '"' && c != '\\';
    }

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
            // A byte below 0x20, or a zero byte in `quote` or `backslash`, leaves its top
            // bit set; so may the bytes after it, never one before.
            const quint64 found = (((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) |
                                   ((backslash - ones) & ~backslash) | (m_writing ? w : 0)) &
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
        if (m_writing && byteOrderMark(p))
            return false;
        m_text.put('"');
        for (;;) {
            const char *run = plainEnd(p);
            m_text.ascii(p, run - p);
            if (key && !m_text.full()) // the units just written
                key->append(m_text.data() + m_text.size() - (run - p), size_t(run - p));
            if ((p = run) == m_end || *p == '"' || m_text.full())
                break;
            m_units.clear();
            // A surrogate pair written as two escapes stays in one piece.
            while (p != m_end && *p != '"' && !plain(*p) &&
                   (m_units.size() < 4096 || QChar::isHighSurrogate(m_units.back())))
                if (!character(p))
                    return false;
            m_text.escaped(m_units.data(), qsizetype(m_units.size()));
            if (key)
                key->append(m_units);
        }
        if (p == m_end || m_text.full())
            return false;
        m_p = p + 1;
        m_text.put('"');
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
            return form % 2 == 0 || !m_writing;
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
            return c != 0 || !m_writing;
        }
        return true;
    }

    // Qt keeps a number as an integer when its text is an integer that fits
    // 64 bits, otherwise as a double.
    bool number()
    {
        const char *start = m_p;
        // Qt's parser also takes a number that starts with its point.
        while (m_p != m_end && std::string_view("0123456789-+.eE").find(*m_p) != std::string_view::npos)
            ++m_p;
        qint64 integer = 0;
        const auto asInteger = std::from_chars(start, m_p, integer);
        double d = 0;
        if (m_p != start && asInteger.ec == std::errc() && asInteger.ptr == m_p) {
            m_text.integer(integer);
        } else if (const auto asDouble = std::from_chars(start, m_p, d);
                   m_p != start && asDouble.ec == std::errc() && asDouble.ptr == m_p && std::isfinite(d)) {
            m_text.number(d);
        } else {
            m_text.ascii(start, m_p - start);
            return m_p != start && !m_writing;
        }
        return true;
    }

    const char *m_p;
    const char *const m_end;
    Text &m_text;
    const bool m_writing;
    std::vector<Member> m_members;
    std::u16string m_keys; // the keys of the objects being written, nested ones last
    std::u16string m_sorted;
    std::u16string m_units; // a string's piece being escaped
};

// A parsed object as Qt writes it, stopping once the text is full.
void writeValue(Text &text, const QJsonValue &value);

void writeString(Text &text, const QString &s)
{
    text.put('"');
    text.escaped(reinterpret_cast<const char16_t *>(s.constData()), s.size());
    text.put('"');
}

template <typename Items> void writeItems(Text &text, const Items &items, char opening, char closing)
{
    text.put(opening);
    for (auto it = items.begin(); it != items.end() && !text.full(); ++it) {
        if (it != items.begin())
            text.put(',');
        if constexpr (std::is_same_v<Items, QJsonObject>) {
            writeString(text, it.key());
            text.put(':');
        }
        writeValue(text, *it);
    }
    text.put(closing);
}

void writeValue(Text &text, const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return text.ascii(value.toBool() ? "true" : "false");
    case QJsonValue::Double:
        if (value.toInteger(0) == value.toInteger(1))
            return text.integer(value.toInteger());
        return std::isfinite(value.toDouble()) ? text.number(value.toDouble()) : text.ascii("null");
    case QJsonValue::String:
        return writeString(text, value.toString());
    case QJsonValue::Array:
        return writeItems(text, value.toArray(), '[', ']');
    case QJsonValue::Object:
        return writeItems(text, value.toObject(), '{', '}');
    default:
        return text.ascii("null");
    }
}

} // namespace

QString JsonDebugText::fromMessage(QByteArrayView json, QLatin1StringView before, qsizetype limit)
{
    const qint64 cap = limit < 0 ? maxTextBytes * 8 : limit;
    // About the message's size, or the cap: grown as it goes, the text would be copied over and over.
    Text text(before, cap, qsizetype(std::min<qint64>(json.size(), cap)));
    if (!Scanner(json, text).document())
        return {};
    return text.take();
}

QString JsonDebugText::fromObject(const QJsonObject &object, QLatin1StringView before, qsizetype maxBytes,
                                  qint64 totalBytes)
{
    Text text(before, maxBytes, std::min<qsizetype>(maxBytes, 4096));
    text.ascii("QJsonObject(");
    writeItems(text, object, '{', '}');
    text.put(')');
    if (!text.full())
        return text.take();
    const qint64 total =
        totalBytes >= 0 ? totalBytes : textBytes(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QString kept = text.take();
    return kept + moreText(std::max<qint64>(total - text.bytes(), 1));
}

qint64 JsonDebugText::textBytes(QByteArrayView json)
{
    Text text({}, std::numeric_limits<qint64>::max(), 0, false);
    Scanner(json, text).document();
    return text.bytes();
}

QString JsonDebugText::moreText(qint64 bytes)
{
    return QStringLiteral(" … (%1 more bytes)").arg(bytes);
}
