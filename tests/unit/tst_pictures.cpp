// What the picture guard refuses before the image loader decodes: the cost
// of a picture judged from its headers (and, for SVG, its element count).
#include "core/PictureGuard.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

#include <zlib.h>

namespace {

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray svg(const QByteArray &size, int shapes, qsizetype padding = 0)
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" " + size + ">" + QByteArray(padding, ' ') +
           QByteArray("<rect width=\"1\" height=\"1\"/>").repeated(shapes) + "</svg>";
}

QByteArray gzip(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))) + 32, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT
private slots:
    void inspect_data();
    void inspect();
};

void TestPictures::inspect_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("refusal"); // empty: decoded as usual

    const QByteArray square = R"(width="100" height="100")";
    QTest::newRow("photo-sized PNG") << png(1600, 1200) << "";
    QTest::newRow("long thin PNG") << png(10000, 2) << "would be scaled to";
    QTest::newRow("SVG logo") << svg(square, 200) << "";
    QTest::newRow("SVGZ logo") << gzip(svg(square, 200)) << "";
    QTest::newRow("50,001 elements") << svg(square, 50000) << "over 50000 elements";
    QTest::newRow("over 4 MiB of SVG text") << svg(square, 1, 4 * 1024 * 1024) << "SVG text of over";
    QTest::newRow("long thin SVG, in millimetres")
        << svg(R"(width="1000mm" height="1mm")", 1) << "would be scaled to";
    QTest::newRow("long thin SVG, by its viewBox")
        << svg(R"(viewBox="0 0 1 10000")", 1) << "would be scaled to";
    QTest::newRow("not a picture") << QByteArray("<html>nothing</html>") << "";
}

void TestPictures::inspect()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, refusal);
    PictureGuard::Limits limits;
    limits.box = QSize(1280, 776);
    const QString reason = PictureGuard::inspect(data, limits);
    if (refusal.isEmpty())
        QVERIFY2(reason.isEmpty(), qPrintable(reason));
    else
        QVERIFY2(reason.contains(refusal), qPrintable(reason));
}

QTEST_MAIN(TestPictures)

#include "tst_pictures.moc"
