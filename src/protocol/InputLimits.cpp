#include "InputLimits.h"

#include <cmath>

Q_LOGGING_CATEGORY(lcLimits, "qv4.limits")

bool InputLimits::clamp(double &value, double maximum)
{
    if (std::isnan(value)) {
        value = 0;
        return true;
    }
    if (std::abs(value) <= maximum)
        return false;
    value = value < 0 ? -maximum : maximum;
    return true;
}

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
