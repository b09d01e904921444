#include "QuotedUrlCut.h"

#include <QRegularExpression>

namespace QuotedUrlCut {

namespace {

QtMessageHandler g_next = nullptr;

constexpr qsizetype longest = 120;

void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const bool ours = context.category && qstrncmp(context.category, "qv4.", 4) == 0;
    g_next(type, context, ours || text.size() <= longest ? text : cut(text));
}

} // namespace

QString cut(const QString &text)
{
    static const QRegularExpression address(QStringLiteral(R"((?:data:|\b[A-Za-z][A-Za-z0-9+.-]*://)\S+)"));
    QString out;
    qsizetype from = 0;
    for (auto it = address.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength() <= longest)
            continue;
        out += QStringView(text).mid(from, match.capturedStart() - from);
        // As PictureGuard::shortUrl cuts the display's own.
        out += match.capturedView().left(100);
        out += QStringLiteral("… (%1 characters)").arg(match.capturedLength());
        from = match.capturedEnd();
    }
    if (from == 0)
        return text;
    out += QStringView(text).mid(from);
    return out;
}

void install()
{
    if (g_next)
        return;
    g_next = qInstallMessageHandler(handle); // Qt's default one when none was installed
}

} // namespace QuotedUrlCut
