#include "KioskCursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QWindow>

KioskCursor::KioskCursor(QWindow *window, std::chrono::milliseconds idle) : m_lastPosition(QCursor::pos())
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(idle);
    connect(&m_idle, &QTimer::timeout, this, [this] { setHidden(true); });
    window->installEventFilter(this);
    setHidden(true);
}

KioskCursor::~KioskCursor()
{
    setHidden(false);
}

bool KioskCursor::eventFilter(QObject *, QEvent *event)
{
    if (event->type() != QEvent::MouseMove)
        return false;
    const auto *move = static_cast<const QMouseEvent *>(event);
    // A finger on a touch screen is the customer, not a technician. A move
    // event without movement comes from windows and items changing under a
    // still pointer.
    if (move->pointingDevice() && move->pointingDevice()->type() == QInputDevice::DeviceType::TouchScreen)
        return false;
    if (move->globalPosition() == m_lastPosition)
        return false;
    m_lastPosition = move->globalPosition();
    setHidden(false);
    m_idle.start();
    return false;
}

void KioskCursor::setHidden(bool hidden)
{
    if (hidden == m_hidden)
        return;
    m_hidden = hidden;
    // An override cursor, so that no item's own cursor shape shows through.
    if (hidden)
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}
