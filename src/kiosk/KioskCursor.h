#pragma once

#include <QObject>
#include <QPointF>
#include <QTimer>

#include <chrono>

class QWindow;

// Keeps the mouse cursor out of the customer's view on a full-screen
// display: hidden from the start, shown while a mouse moves over the window
// (a technician may need it), hidden again after a while without movement.
class KioskCursor : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultIdle{3000};

    explicit KioskCursor(QWindow *window, std::chrono::milliseconds idle = defaultIdle);
    ~KioskCursor() override;

    bool isHidden() const { return m_hidden; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setHidden(bool hidden);

    QTimer m_idle;
    QPointF m_lastPosition;
    bool m_hidden = false;
};
