#include "BlurredBackdrop.h"

#include "pictures/PicturePool.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRectangleNode>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// The grab is this many times smaller than the item: the blur takes out all
// detail finer than that anyway, and a quarter-size grab costs a sixteenth.
constexpr int downscale = 4;

// Widths of three box passes whose sum approximates a Gaussian of sigma.
std::array<int, 3> boxWidths(double sigma)
{
    const int n = 3;
    int lower = int(std::floor(std::sqrt(12 * sigma * sigma / n + 1)));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const double m =
        (12 * sigma * sigma - n * lower * lower - 4.0 * n * lower - 3.0 * n) / (-4.0 * lower - 4);
    const int lowerCount = int(std::lround(m));
    std::array<int, 3> widths{};
    for (int i = 0; i < n; ++i)
        widths[i] = std::max(1, i < lowerCount ? lower : upper);
    return widths;
}

// One box pass over `count` pixels that lie `step` bytes apart, the edges
// repeated beyond both ends; four 8-bit channels.
void boxLine(const uchar *in, uchar *out, int count, int step, int halfWidth)
{
    const int width = 2 * halfWidth + 1;
    for (int channel = 0; channel < 4; ++channel) {
        auto at = [&](int i) {
            return int(in[std::clamp(i, 0, count - 1) * step + channel]);
        };
        int sum = 0;
        for (int i = -halfWidth; i <= halfWidth; ++i)
            sum += at(i);
        for (int i = 0; i < count; ++i) {
            out[i * step + channel] = uchar((sum + width / 2) / width);
            sum += at(i + halfWidth + 1) - at(i - halfWidth);
        }
    }
}

void boxBlur(QImage &image, int halfWidth)
{
    if (halfWidth < 1)
        return;
    QImage scratch(image.size(), image.format());
    const int w = image.width();
    const int h = image.height();
    for (int y = 0; y < h; ++y)
        boxLine(image.constScanLine(y), scratch.scanLine(y), w, 4, halfWidth);
    const qsizetype line = image.bytesPerLine();
    for (int x = 0; x < w; ++x)
        boxLine(scratch.constBits() + 4 * x, image.bits() + 4 * x, h, int(line), halfWidth);
}

} // namespace

// The base colour laid under the source's own children while the backdrop
// shows. The software scene graph does not always keep the alpha channel of
// a grab, and then whatever the source leaves undrawn comes out black; with
// this beneath, the grab is opaque and right either way. It is the colour of
// the window's background, so on screen it changes nothing.
class BlurredBackdrop::BaseFill : public QQuickItem
{
public:
    BaseFill(QQuickItem *source, const QColor &color) : QQuickItem(source), m_color(color)
    {
        setFlag(ItemHasContents);
        setObjectName(QStringLiteral("blurBaseFill"));
        setZ(std::numeric_limits<qreal>::lowest());
        follow();
        connect(source, &QQuickItem::widthChanged, this, &BaseFill::follow);
        connect(source, &QQuickItem::heightChanged, this, &BaseFill::follow);
    }
    void setColor(const QColor &color)
    {
        m_color = color;
        update();
    }

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override
    {
        auto *node = static_cast<QSGRectangleNode *>(old);
        if (!node)
            node = window()->createRectangleNode();
        node->setRect(boundingRect());
        node->setColor(m_color);
        return node;
    }

private:
    void follow() { setSize(parentItem()->size()); }

    QColor m_color;
};

// Grabs and blurs for every backdrop, and keeps the last picture made. Each
// opening of a dialog builds a new backdrop, often over the same window: it
// shows the last picture at once and grabs only if that is older than a check
// interval; backdrops shown while a grab runs wait for it. So a dialog toggled
// many times a second costs at most one grab and blur per check interval, not
// one per toggle (which the next toggle threw away unfinished). The picture
// is made at the item's own pixels, so drawing it is a plain copy.
class BlurredBackdrop::Maker : public QObject
{
public:
    struct Key
    {
        QPointer<QQuickItem> source;
        QSize size;  // of the grab
        QSize shown; // of the picture: the item's own pixels
        qreal radius = 0;
        QColor base;
        bool operator==(const Key &o) const
        {
            return source == o.source && size == o.size && shown == o.shown &&
                   qFuzzyCompare(radius + 1, o.radius + 1) && base == o.base;
        }
    };

    static Maker *instance()
    {
        if (!pointer())
            pointer() = new Maker(QCoreApplication::instance());
        return pointer();
    }

    static Maker *existing() { return pointer(); }

    // The base fill stays in the source while any backdrop shows or a grab
    // runs, and then goes, leaving the window as it was.
    void hidden(BlurredBackdrop *backdrop)
    {
        m_waiting.removeAll(backdrop);
        m_shown.removeAll(backdrop);
        dropFill();
    }

    void request(BlurredBackdrop *backdrop, const Key &key, int interval)
    {
        if (!m_shown.contains(backdrop))
            m_shown.append(backdrop);
        if (key == m_key && !m_picture.isNull()) {
            backdrop->take(m_picture);
            if (m_checked.elapsed() < interval)
                return;
        }
        if (!m_waiting.contains(backdrop))
            m_waiting.append(backdrop);
        if (!busy())
            grab(key);
    }

private:
    static QPointer<Maker> &pointer()
    {
        static QPointer<Maker> maker;
        return maker;
    }

    void dropFill()
    {
        m_shown.removeAll(nullptr);
        if (m_shown.isEmpty() && !m_grab)
            delete m_fill;
    }

    explicit Maker(QObject *parent) : QObject(parent)
    {
        connect(&m_blur, &QFutureWatcher<QImage>::finished, this, &Maker::blurDone);
    }

    bool busy() const { return m_grab || m_blur.isRunning(); }

    void grab(const Key &key)
    {
        QQuickItem *source = key.source;
        if (!source || !source->window() || !source->window()->isVisible() || !source->isVisible() ||
            key.size.isEmpty()) {
            m_waiting.clear(); // their check timers ask again
            return;
        }
        if (!m_fill || m_fill->parentItem() != source) {
            delete m_fill;
            m_fill = new BaseFill(source, key.base);
        }
        m_fill->setColor(key.base);
        m_grab = source->grabToImage(key.size);
        if (!m_grab) {
            m_waiting.clear();
            return;
        }
        m_grabKey = key;
        connect(m_grab.data(), &QQuickItemGrabResult::ready, this, &Maker::grabbed);
    }

    void grabbed()
    {
        const QImage image = m_grab ? m_grab->image() : QImage();
        m_grab.reset();
        dropFill();
        if (image.isNull()) {
            m_waiting.clear();
            return;
        }
        if (m_grabKey == m_key && image == m_lastGrab) { // nothing moved behind the dialogs
            m_checked.start();
            deliver();
            return;
        }
        m_lastGrab = image;
        const qreal ratio = m_grabKey.source && m_grabKey.source->window()
                                ? m_grabKey.source->window()->effectiveDevicePixelRatio()
                                : 1.0;
        m_blur.setFuture(QtConcurrent::run(PicturePool::instance(), &BlurredBackdrop::blurred, image,
                                           m_grabKey.radius * ratio / downscale, m_grabKey.base,
                                           m_grabKey.shown));
    }

    void blurDone()
    {
        if (m_blur.isCanceled())
            return;
        m_picture = m_blur.result();
        m_key = m_grabKey;
        m_checked.start();
        deliver();
    }

    // Hands the picture to those waiting for it; asks again for those whose
    // settings changed meanwhile.
    void deliver()
    {
        const QList<QPointer<BlurredBackdrop>> waiting = std::exchange(m_waiting, {});
        for (const QPointer<BlurredBackdrop> &backdrop : waiting) {
            if (backdrop)
                backdrop->check();
        }
    }

    Key m_key; // of the picture
    Key m_grabKey;
    QImage m_lastGrab; // what the picture was made from
    QImage m_picture;
    QElapsedTimer m_checked; // when the source last looked like m_lastGrab
    QPointer<BaseFill> m_fill;
    QSharedPointer<QQuickItemGrabResult> m_grab;
    QFutureWatcher<QImage> m_blur;
    QList<QPointer<BlurredBackdrop>> m_waiting;
    QList<QPointer<BlurredBackdrop>> m_shown;
};

BlurredBackdrop::BlurredBackdrop(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(ItemHasContents);
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &BlurredBackdrop::check);
}

BlurredBackdrop::~BlurredBackdrop()
{
    if (Maker *maker = Maker::existing())
        maker->hidden(this);
}

void BlurredBackdrop::setSource(QQuickItem *source)
{
    if (m_source == source)
        return;
    m_source = source;
    emit sourceChanged();
    restart();
}

void BlurredBackdrop::setRadius(qreal radius)
{
    if (qFuzzyCompare(m_radius, radius))
        return;
    m_radius = radius;
    emit radiusChanged();
    check();
}

void BlurredBackdrop::setBaseColor(const QColor &color)
{
    if (m_baseColor == color)
        return;
    m_baseColor = color;
    emit baseColorChanged();
    check();
}

void BlurredBackdrop::setCheckInterval(int ms)
{
    if (m_timer.interval() == ms)
        return;
    m_timer.setInterval(ms);
    emit checkIntervalChanged();
}

QImage BlurredBackdrop::blurred(const QImage &grab, qreal radius, const QColor &base, const QSize &size)
{
    QImage image(grab.size(), QImage::Format_RGB32);
    image.fill(base);
    {
        QPainter painter(&image);
        painter.drawImage(0, 0, grab);
    }
    // The blur reaches about three sigma: as far as the radius.
    if (radius > 0.5) {
        for (int width : boxWidths(radius / 3))
            boxBlur(image, (width - 1) / 2);
    }
    if (size.isValid() && size != image.size())
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QSize BlurredBackdrop::pixelSize() const
{
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    return QSize(int(std::ceil(width() * ratio / downscale)), int(std::ceil(height() * ratio / downscale)));
}

void BlurredBackdrop::restart()
{
    if (isVisible() && window() && m_source) {
        m_timer.start();
        check();
        return;
    }
    // Hidden: nothing to check, and no picture kept.
    if (Maker *maker = Maker::existing())
        maker->hidden(this);
    m_timer.stop();
    m_picture = QImage();
    m_pictureNew = false;
    update();
}

void BlurredBackdrop::check()
{
    // A hidden window (--screen, its monitor missing) has nothing to grab; the
    // check timer asks again once it shows.
    if (!isVisible() || !window() || !m_source)
        return;
    const qreal ratio = window()->effectiveDevicePixelRatio();
    const QSize shown(int(std::ceil(width() * ratio)), int(std::ceil(height() * ratio)));
    Maker::instance()->request(this, {m_source, pixelSize(), shown, m_radius, m_baseColor},
                               m_timer.interval());
}

void BlurredBackdrop::take(const QImage &picture)
{
    if (!isVisible() || picture.cacheKey() == m_picture.cacheKey())
        return;
    m_picture = picture;
    m_pictureNew = true;
    ++m_pictures;
    emit picturesChanged();
    update();
}

void BlurredBackdrop::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemVisibleHasChanged || change == ItemSceneChange)
        restart();
}

void BlurredBackdrop::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        check();
    update();
}

QSGNode *BlurredBackdrop::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    auto *node = static_cast<QSGImageNode *>(old);
    if (m_picture.isNull()) {
        delete node;
        return nullptr;
    }
    if (!node) {
        node = window()->createImageNode();
        node->setOwnsTexture(true);
        node->setFiltering(QSGTexture::Linear);
        m_pictureNew = true;
    }
    if (m_pictureNew) {
        node->setTexture(window()->createTextureFromImage(m_picture));
        m_pictureNew = false;
    }
    node->setRect(boundingRect());
    return node;
}
