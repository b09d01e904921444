#pragma once

#include <QString>

// Qt's own warnings (the image loader's, a QML Image's) quote a picture's
// address whole: a data: URL of megabytes makes one line of megabytes, on
// every attempt. Every line that is not the display's own has each long
// address in it cut as the display's own lines cut theirs.
namespace QuotedUrlCut {

// Installs the cutting message handler in front of the one in place (once).
void install();

// `text` with every address (scheme://… or data:…) of over 120 characters cut.
QString cut(const QString &text);

} // namespace QuotedUrlCut
