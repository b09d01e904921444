#pragma once

#include <QHash>
#include <QJsonObject>
#include <QSize>
#include <QString>
#include <QStringList>

// Warns of promo pictures that the slideshow would crop by more than half:
// it fills its place, cropped from the middle, and that place has the shape
// of the landscape design on every landscape screen (and nearly so on the
// portrait band). Only pictures the scenario itself serves are judged, files
// (file:// URLs) and data: URLs, from their headers; web addresses are not
// fetched.
class PictureShape
{
public:
    static constexpr QSize place = QSize(1280, 776);

    // The warnings for one "promo_image" message's content, worded as the
    // message check words its own.
    QStringList check(const QJsonObject &content);

private:
    QSize pictureSize(const QString &url);

    QHash<QString, QSize> m_sizes; // by URL: a scenario names the same pictures again and again
};
