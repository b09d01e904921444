#include "InputLimits.h"

Q_LOGGING_CATEGORY(lcLimits, "qv4.limits")

bool InputLimits::shorten(QString &text)
{
    if (text.size() <= maximumTextLength)
        return false;
    qsizetype length = maximumTextLength;
    if (text.at(length - 1).isHighSurrogate())
        --length;
    text.truncate(length);
    return true;
}
