#include "MessageCheck.h"

#include "InputLimits.h"
#include "MessageTable.h"
#include "QrCodeFit.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using MessageTable::Field;
using MessageTable::KindEntry;
using MessageTable::Shape;
using MessageTable::Type;

// Lower case, without the separators people write in different ways.
QString folded(const QString &key)
{
    QString out;
    out.reserve(key.size());
    for (const QChar c : key) {
        if (c != QLatin1Char('_') && c != QLatin1Char('-') && c != QLatin1Char(' '))
            out.append(c.toLower());
    }
    return out;
}

// Edits (insert, delete, replace, swap of neighbours) from one to the other.
int distance(const QString &a, const QString &b)
{
    const qsizetype n = a.size();
    const qsizetype m = b.size();
    std::vector<int> before(size_t(m + 1)), previous(size_t(m + 1)), current(size_t(m + 1));
    for (qsizetype j = 0; j <= m; ++j)
        previous[size_t(j)] = int(j);
    for (qsizetype i = 1; i <= n; ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= m; ++j) {
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            int best = std::min(
                {previous[size_t(j)] + 1, current[size_t(j - 1)] + 1, previous[size_t(j - 1)] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                best = std::min(best, before[size_t(j - 2)] + 1);
            current[size_t(j)] = best;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[size_t(m)];
}

bool alike(const QString &written, const QString &known)
{
    const QString a = folded(written);
    const QString b = folded(known);
    if (a == b)
        return true;
    const qsizetype shorter = std::min(a.size(), b.size());
    if (shorter < 4 || std::abs(a.size() - b.size()) > 2)
        return false;
    return distance(a, b) <= (shorter >= 8 ? 2 : 1);
}

QString quoted(const QString &text)
{
    constexpr qsizetype shown = 40;
    QString value = text.size() > shown ? text.left(shown) + QStringLiteral("…") : text;
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + value + QLatin1Char('"');
}

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// What came, as the sender would recognise it.
QString described(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return number(value.toDouble());
    case QJsonValue::String:
        return QStringLiteral("a string (%1)").arg(quoted(value.toString()));
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// The JSON type alone, for a value that is not ours to log.
QString typeOnly(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    default:
        return described(value);
    }
}

QString expected(const Field &f)
{
    switch (f.type) {
    case Type::String:
        return QStringLiteral("a string");
    case Type::Number:
        return QStringLiteral("a number");
    case Type::Integer:
        return f.unit.isEmpty() ? QStringLiteral("an integral number")
                                : QStringLiteral("an integral number of %1").arg(f.unit);
    case Type::Boolean:
        return QStringLiteral("a boolean");
    case Type::DateTime:
        return QStringLiteral("an ISO 8601 date-time or null");
    case Type::Object:
        return QStringLiteral("an object");
    case Type::ObjectArray:
        return QStringLiteral("an array of objects");
    case Type::Schedule:
        return QStringLiteral("an object of weekdays");
    case Type::Shown:
        return QStringLiteral("a number or a string");
    }
    return QString();
}

class Checker
{
public:
    QStringList result()
    {
        if (m_count > MessageCheck::maxProblems)
            m_lines.append(QStringLiteral("… and %1 more problem(s) in this message")
                               .arg(m_count - MessageCheck::maxProblems));
        return std::move(m_lines);
    }

    void message(const QJsonObject &object)
    {
        const QJsonValue path = object.value(Key::path);
        lookAlikes(object, MessageTable::envelope());
        if (path.isUndefined()) {
            add(QStringLiteral("no \"path\"; the message is ignored"));
            return;
        }
        if (!path.isString()) {
            add(QStringLiteral("\"path\" expects a string, got %1; the message is ignored")
                    .arg(described(path)));
            return;
        }
        const QString kindName = path.toString();
        const auto &kinds = MessageTable::kinds();
        const auto kind =
            std::find_if(kinds.begin(), kinds.end(), [&](const KindEntry &k) { return k.path == kindName; });
        if (kind == kinds.end()) {
            QStringList known;
            QString suggestion;
            for (const KindEntry &k : kinds) {
                known.append(k.path);
                if (suggestion.isEmpty() && alike(kindName, k.path))
                    suggestion = QStringLiteral(" (did you mean \"%1\"?)").arg(k.path);
            }
            add(QStringLiteral("unknown \"path\" %1%2; the message is ignored (known: %3)")
                    .arg(quoted(kindName), suggestion, known.join(QLatin1String(", "))));
            return;
        }
        m_kind = kind->path + QLatin1String(": ");
        const QJsonValue content = object.value(Key::content);
        if (content.isUndefined()) {
            add(QStringLiteral("no \"content\"; read as {}"));
            return;
        }
        if (!content.isObject()) {
            add(QStringLiteral("\"content\" expects an object, got %1; read as {}").arg(described(content)));
            return;
        }
        fields(content.toObject(), *kind->content);
        meaning(kind->kind, content.toObject());
    }

    void add(const QString &text)
    {
        if (++m_count <= MessageCheck::maxProblems)
            m_lines.append(m_kind + text);
    }

private:
    // Values of the right type that the display still cannot use.
    void meaning(MessageTable::Kind kind, const QJsonObject &content)
    {
        if (kind == MessageTable::Kind::Payment) {
            const QJsonValue qr = content.value(Key::qrcodeTable);
            if (qr.isString() && !qr.toString().isEmpty()) {
                const QString problem = QrCodeFit::problem(qr.toString());
                if (!problem.isEmpty())
                    add(problem);
            }
            const QJsonValue result = content.value(Key::result);
            if (result.isString() && !MessageTable::paymentResults().contains(result.toString()))
                add(QStringLiteral(
                        "\"result\" is %1, neither \"success\" nor \"declined\"; the dialog closes "
                        "without an outcome")
                        .arg(quoted(result.toString())));
            return;
        }
        if (kind != MessageTable::Kind::PromoImage)
            return;
        const QJsonArray entries = content.value(Key::promoImages).toArray();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (!entries.at(i).isObject())
                continue;
            const QJsonObject entry = entries.at(i).toObject();
            const QString at = QStringLiteral("\"promo_images[%1]\"").arg(i);
            if (entry.value(Key::uuid).toString().isEmpty())
                add(at + QStringLiteral(" has no \"uuid\"; the display drops it"));
            if (entry.value(Key::isOrderScreen) != QJsonValue(true))
                add(at + QStringLiteral(" is not for the order screen (\"is_order_screen\" is not true); the "
                                        "display drops it"));
            if (entry.value(Key::image).toString().isEmpty())
                add(at + QStringLiteral(" has an empty \"image\"; the display never shows it"));
            if (entry.value(Key::timeout).toDouble() <= 0)
                add(at + QStringLiteral(" has no \"timeout\" above 0; the display shows it for 10 s"));
        }
    }

    // Unknown keys that look like a key of `shape`: most likely meant as it.
    void lookAlikes(const QJsonObject &object, const Shape &shape)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QString key = it.key();
            if (std::any_of(shape.begin(), shape.end(), [&](const Field &f) { return f.key == key; }))
                continue;
            const QString meant = lookAlike(key, shape);
            if (!meant.isEmpty())
                add(QStringLiteral("\"%1\" is not read; did you mean \"%2\"?").arg(name(key), meant));
        }
    }

    QString lookAlike(const QString &key, const Shape &shape)
    {
        const auto cached = m_lookAlikes.constFind(key);
        if (cached != m_lookAlikes.constEnd())
            return cached.value();
        QString meant;
        for (const Field &f : shape) {
            if (alike(key, f.key)) {
                meant = f.key;
                break;
            }
        }
        m_lookAlikes.insert(key, meant);
        return meant;
    }

    // Where in the content a value is: "receipt_items[2].quantity". Put
    // together only for a problem; a sound message costs lookups only.
    struct Step
    {
        const QString *key;
        qsizetype index;
    };

    QString name(const QString &last = QString()) const
    {
        QString text;
        for (const Step &step : m_at) {
            if (step.key) {
                if (!text.isEmpty())
                    text += QLatin1Char('.');
                text += *step.key;
            } else {
                text += QStringLiteral("[%1]").arg(step.index);
            }
        }
        if (!last.isEmpty()) {
            if (!text.isEmpty())
                text += QLatin1Char('.');
            text += last;
        }
        return text;
    }

    void fields(const QJsonObject &object, const Shape &shape)
    {
        qsizetype known = 0;
        for (const Field &f : shape) {
            const QJsonValue v = object.value(f.key);
            const bool absent = v.isUndefined() || v.isNull() || v == QJsonValue(QString());
            if (absent && !f.whenMissing.isEmpty()) {
                m_at.push_back({&f.key, 0});
                add(QStringLiteral("\"%1\" is missing; %2").arg(name(), f.whenMissing));
                m_at.pop_back();
            }
            if (v.isUndefined())
                continue;
            ++known;
            if (absent && !f.whenMissing.isEmpty())
                continue;
            m_at.push_back({&f.key, 0});
            value(v, f);
            m_at.pop_back();
        }
        if (object.size() > known)
            lookAlikes(object, shape);
    }

    void wrongType(const QJsonValue &v, const Field &f)
    {
        add(QStringLiteral("\"%1\" expects %2, got %3")
                .arg(name(), expected(f), f.personal ? typeOnly(v) : described(v)));
    }

    void value(const QJsonValue &v, const Field &f)
    {
        switch (f.type) {
        case Type::String:
            if (!v.isString())
                wrongType(v, f);
            return;
        case Type::Number:
            if (!v.isDouble())
                wrongType(v, f);
            return;
        case Type::Shown:
            if (!v.isDouble() && !v.isString())
                wrongType(v, f);
            return;
        case Type::Boolean:
            if (!v.isBool())
                wrongType(v, f);
            return;
        case Type::Integer: {
            const double d = v.toDouble(0.5);
            if (!v.isDouble() || d != std::trunc(d)) {
                wrongType(v, f);
            } else if (d < -2147483648.0 || d > 2147483647.0) {
                add(QStringLiteral("\"%1\" expects %2 from -2147483648 to 2147483647, got %3")
                        .arg(name(), expected(f), described(v)));
            }
            return;
        }
        case Type::DateTime:
            if (v.isNull())
                return;
            if (!v.isString() || !QDateTime::fromString(v.toString(), Qt::ISODate).isValid())
                wrongType(v, f);
            return;
        case Type::Object:
            if (!v.isObject())
                wrongType(v, f);
            else
                fields(v.toObject(), *f.shape);
            return;
        case Type::ObjectArray: {
            if (!v.isArray()) {
                wrongType(v, f);
                return;
            }
            const QJsonArray array = v.toArray();
            for (qsizetype i = 0; i < array.size(); ++i) {
                const QJsonValue element = array.at(i);
                m_at.push_back({nullptr, i});
                if (!element.isObject())
                    add(QStringLiteral("\"%1\" expects an object, got %2").arg(name(), described(element)));
                else
                    fields(element.toObject(), *f.shape);
                m_at.pop_back();
            }
            return;
        }
        case Type::Schedule:
            if (!v.isObject())
                wrongType(v, f);
            else
                schedule(v.toObject(), name());
            return;
        }
    }

    void schedule(const QJsonObject &days, const QString &name)
    {
        const QStringList &weekdays = MessageTable::weekdays();
        for (auto it = days.begin(); it != days.end(); ++it) {
            const QString day = it.key();
            const QString dayName = name + QLatin1Char('.') + day;
            if (!weekdays.contains(day)) {
                const auto meant = std::find_if(weekdays.begin(), weekdays.end(),
                                                [&](const QString &w) { return alike(day, w); });
                if (meant != weekdays.end())
                    add(QStringLiteral("\"%1\" is not read; did you mean \"%2\"?").arg(dayName, *meant));
                continue;
            }
            if (!it.value().isArray()) {
                add(QStringLiteral("\"%1\" expects an array of [\"hh:mm\", \"hh:mm\"] windows, got %2")
                        .arg(dayName, described(it.value())));
                continue;
            }
            const QJsonArray windows = it.value().toArray();
            // The display reads no further windows; checking them all would
            // hold the next message back by seconds.
            const qsizetype read = qMin<qsizetype>(windows.size(), InputLimits::maximumTimeWindows);
            if (read < windows.size()) {
                add(QStringLiteral("\"%1\" has %2 windows; only the first %3 are read")
                        .arg(dayName)
                        .arg(windows.size())
                        .arg(read));
            }
            for (qsizetype i = 0; i < read; ++i) {
                const QString windowName = QStringLiteral("%1[%2]").arg(dayName).arg(i);
                const QJsonArray window = windows.at(i).toArray();
                // One empty window is how a day is kept free.
                if (windows.at(i).isArray() && window.isEmpty())
                    continue;
                if (!windows.at(i).isArray() || window.size() != 2) {
                    add(QStringLiteral("\"%1\" expects [\"hh:mm\", \"hh:mm\"], got %2")
                            .arg(windowName, windows.at(i).isArray()
                                                 ? QStringLiteral("%1 element(s)").arg(window.size())
                                                 : described(windows.at(i))));
                    continue;
                }
                QTime bounds[2];
                for (qsizetype j = 0; j < 2; ++j) {
                    const QJsonValue time = window.at(j);
                    bounds[j] = MessageTable::timeOfDay(time.toString());
                    if (!time.isString() || !bounds[j].isValid())
                        add(QStringLiteral("\"%1[%2]\" expects a time \"hh:mm\" from 00:00 to 23:59, got %3")
                                .arg(windowName)
                                .arg(j)
                                .arg(described(time)));
                }
                if (bounds[0].isValid() && bounds[1].isValid() && bounds[0] > bounds[1])
                    add(QStringLiteral("\"%1\" never matches: a window does not cross midnight; split it "
                                       "between two days")
                            .arg(windowName));
            }
        }
    }

    QStringList m_lines;
    std::vector<Step> m_at;
    int m_count = 0;
    QString m_kind;
    QHash<QString, QString> m_lookAlikes;
};

} // namespace

namespace MessageCheck {

QString textFrameProblem()
{
    return QStringLiteral("text frame ignored: the display reads only binary frames; send the JSON as a "
                          "binary message");
}

QString parseProblem(const QByteArray &message, const QJsonParseError &error)
{
    if (error.error == QJsonParseError::NoError)
        return QStringLiteral(
            "not a JSON object but an array; a message is {\"path\": ..., \"content\": {...}}");
    if (message.trimmed().isEmpty())
        return QStringLiteral("empty message");
    // Qt's parser refuses a bare number or string at the top; name what it was.
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + message + ']');
    if (wrapped.isArray() && wrapped.array().size() == 1)
        return QStringLiteral("not a JSON object but %1; a message is {\"path\": ..., \"content\": {...}}")
            .arg(described(wrapped.array().at(0)));
    return QStringLiteral("invalid JSON at byte %1: %2").arg(error.offset).arg(error.errorString());
}

QStringList checkObject(const QJsonObject &object)
{
    Checker checker;
    checker.message(object);
    return checker.result();
}

QStringList check(const QByteArray &message)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {parseProblem(message, error)};
    return checkObject(document.object());
}

} // namespace MessageCheck
