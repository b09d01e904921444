#include "ScreenChoice.h"

#include "ScreenAwake.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

ScreenChoice::ScreenChoice(const QString &name, const QString &scale, bool fullScreen, QObject *parent)
    : QObject(parent), m_name(name), m_scale(scale), m_fullScreen(fullScreen)
{}

bool ScreenChoice::isScaleOption(const QString &text)
{
    if (text == QLatin1String("dpi") || text == QLatin1String("fit"))
        return true;
    bool ok = false;
    const double factor = text.toDouble(&ok);
    return ok && factor >= 0.25 && factor <= 8;
}

QStringList ScreenChoice::screenList(const QString &but)
{
    QStringList names;
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (!but.isEmpty() && screen->name() == but)
            continue;
        const QRect g = screen->geometry();
        const QString name = screen->name().isEmpty() ? QStringLiteral("(unnamed)") : screen->name();
        names << QStringLiteral("%1 %2x%3+%4+%5")
                     .arg(name)
                     .arg(g.width())
                     .arg(g.height())
                     .arg(g.x())
                     .arg(g.y());
    }
    return names;
}

bool ScreenChoice::hasScreen(const QString &name)
{
    return screenNamed(name) != nullptr;
}

QScreen *ScreenChoice::screenNamed(const QString &name)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

QVariantMap ScreenChoice::initialProperties() const
{
    QVariantMap properties{{QStringLiteral("screenScale"), m_scale}};
    // Shown by attach(), once on its screen: never for a moment on another.
    if (!m_name.isEmpty()) {
        properties.insert(QStringLiteral("visible"), false);
        properties.insert(QStringLiteral("visibility"), QWindow::Hidden);
    }
    return properties;
}

void ScreenChoice::attach(QWindow *window)
{
    if (m_name.isEmpty() || !window)
        return;
    m_window = window;
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        if (screen->name() == m_name)
            show(screen);
    });
    // Emitted before Qt moves the window to a screen that remains.
    connect(qApp, &QGuiApplication::screenRemoved, this, [this](QScreen *screen) {
        if (screen->name() == m_name)
            hideAway("has gone");
    });
    if (QScreen *screen = screenNamed(m_name))
        show(screen);
    else
        hideAway("is not connected");
}

void ScreenChoice::show(QScreen *screen)
{
    if (!m_window)
        return;
    m_window->setScreen(screen);
    // Full screen, the window's bindings follow its screen.
    if (!m_fullScreen)
        m_window->setPosition(screen->geometry().topLeft());
    m_window->setVisibility(m_fullScreen ? QWindow::FullScreen : QWindow::Windowed);
    qCInfo(lcKiosk, "Showing on screen \"%s\" (--screen)", qUtf8Printable(m_name));
}

void ScreenChoice::hideAway(const char *why)
{
    if (m_window)
        m_window->hide();
    const QStringList names = screenList(m_name);
    qCWarning(lcKiosk,
              "Screen \"%s\" (--screen) %s: the display shows nothing until it returns; screens now: %s",
              qUtf8Printable(m_name), why, names.isEmpty() ? "none" : qUtf8Printable(names.join(u", ")));
}
