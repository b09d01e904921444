#include "InputLimits.h"

Q_LOGGING_CATEGORY(lcLimits, "qv4.limits")

QString InputLimits::shownText(const QString &text)
{
    if (!isTooLong(text))
        return text;
    qsizetype length = maximumTextLength;
    if (text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}
