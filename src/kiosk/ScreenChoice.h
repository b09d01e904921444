#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class QScreen;
class QWindow;

// Keeps the window on the screen named by --screen and on no other: on an
// all-in-one till the other monitor is the cashier's. While that screen is
// missing the window stays hidden; it comes back when the screen returns.
// Without a name it leaves the window where Qt puts it. Also hands the
// window its --scale.
class ScreenChoice : public QObject
{
    Q_OBJECT
public:
    ScreenChoice(const QString &name, const QString &scale, bool fullScreen, QObject *parent = nullptr);

    // Whether --scale takes this: dpi, fit or a factor from 0.25 to 8.
    static bool isScaleOption(const QString &text);

    // The screens there are, as "NAME WxH+X+Y", for the installer to pick
    // from; but the one named.
    static QStringList screenList(const QString &but = {});

    static bool hasScreen(const QString &name);

    // The window's initial properties: its scale, and hidden until attach()
    // has put it on the named screen.
    QVariantMap initialProperties() const;

    // Follows the named screen's comings and goings from now on.
    void attach(QWindow *window);

private:
    static QScreen *screenNamed(const QString &name);
    void show(QScreen *screen);
    void hideAway(const char *why);

    QString m_name;
    QString m_scale;
    bool m_fullScreen;
    QPointer<QWindow> m_window;
};
