#pragma once

#include <QColor>
#include <QFutureWatcher>
#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QSharedPointer>
#include <QTimer>

class QQuickItemGrabResult;

// A blurred copy of another item, for where the scene graph draws no shader
// effects (Qt Quick's software adaptation). It grabs the source at a quarter
// of its size, blurs that and scales it to its own pixels on the thread pool,
// and shows the result as one still picture, so the window repaints only the
// spinner while nothing moves behind the dialog. The source is grabbed again every checkInterval ms; the
// picture is replaced only when the grab differs from the last one. Backdrops
// share their grabs: a new one over the same source with the same settings
// shows the last picture at once, and grabs only if it was last checked over
// checkInterval ago.
class BlurredBackdrop : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickItem *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)
    // Under the source where it draws nothing (the window's own background).
    Q_PROPERTY(QColor baseColor READ baseColor WRITE setBaseColor NOTIFY baseColorChanged)
    Q_PROPERTY(int checkInterval READ checkInterval WRITE setCheckInterval NOTIFY checkIntervalChanged)
    // Counts the pictures shown; a picture is on screen once this is above 0.
    Q_PROPERTY(int pictures READ pictures NOTIFY picturesChanged)

public:
    explicit BlurredBackdrop(QQuickItem *parent = nullptr);
    ~BlurredBackdrop() override;

    QQuickItem *source() const { return m_source; }
    void setSource(QQuickItem *source);
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);
    QColor baseColor() const { return m_baseColor; }
    void setBaseColor(const QColor &color);
    int checkInterval() const { return m_timer.interval(); }
    void setCheckInterval(int ms);
    int pictures() const { return m_pictures; }

    // The grab laid on the base colour, blurred with a Gaussian-like kernel
    // of the given radius (in the grab's pixels), edges clamped, and scaled
    // to size. Pure: runs on the pool.
    static QImage blurred(const QImage &grab, qreal radius, const QColor &base, const QSize &size);

signals:
    void sourceChanged();
    void radiusChanged();
    void baseColorChanged();
    void checkIntervalChanged();
    void picturesChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    void restart();
    void check();
    void take(const QImage &picture);
    QSize pixelSize() const;

    class BaseFill;
    class Maker;
    QPointer<QQuickItem> m_source;
    qreal m_radius = 0;
    QColor m_baseColor = Qt::black;
    QTimer m_timer;
    QImage m_picture; // the one shown; new ones wait for the render pass
    bool m_pictureNew = false;
    int m_pictures = 0;
};
