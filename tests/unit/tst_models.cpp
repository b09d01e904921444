// The receipt line model and the promo image model: roles, filters, and the
// rebuild on the pool that must end with the newest list in place.

#include "TestJson.h"
#include "promo/PromoImageModel.h"
#include "state/LatestListLoader.h"
#include "state/ReceiptItemModel.h"

#include <QAbstractItemModelTester>
#include <QJsonDocument>
#include <QPromise>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

class TestModels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void receiptRoleNames();
    void receiptRoleValues_data();
    void receiptRoleValues();
    void receiptInvalidAccess_data();
    void receiptInvalidAccess();
    void receiptStaleIndexAfterShrink();
    void receiptRowCountIgnoresParent();
    void receiptEmptyArrayResetsOnce();
    void receiptNonObjectElementGivesEmptyLine();
    void receiptItemsByReceiptUuid_data();
    void receiptItemsByReceiptUuid();
    void receiptClearThenUpdate();
    void receiptUpdateAfterWaitsForItsGate();
    void receiptClearDuringPendingUpdateWins();
    void receiptOverlappingUpdates();

    void promoFilter_data();
    void promoFilter();
    void promoOrderAndDuplicatesKept();
    void promoDataAlwaysInvalid();
    void promoEveryUpdateResets_data();
    void promoEveryUpdateResets();
    void promoClear();
    void promoClearDuringPendingUpdateWins();
    void promoOverlappingUpdates();

    void modelDestroyedWithUpdatePending_data();
    void modelDestroyedWithUpdatePending();
    void loaderNewestWinsWhenOlderFinishesLast();
    void loaderSupersedeDropsPendingLoads();
};

namespace {

using TestJson::parseArray;

// `count` receipt lines whose uuids carry `tag`, so a test can tell arrays apart.
QJsonArray receiptLines(int count, const QString &tag)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i) {
        array.append(QJsonObject{{"uuid", QStringLiteral("%1-%2").arg(tag).arg(i)},
                                 {"menu_name", QStringLiteral("Блюдо %1").arg(i)},
                                 {"total", 100 * i},
                                 {"receipt_uuid", tag}});
    }
    return array;
}

QJsonObject promo(const QString &uuid, const QString &image = QString())
{
    return QJsonObject{{"uuid", uuid}, {"is_active", true}, {"is_order_screen", true}, {"image", image}};
}

QJsonArray promos(int count, const QString &tag)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(promo(QStringLiteral("%1-%2").arg(tag).arg(i)));
    return array;
}

QStringList receiptUuids(const ReceiptItemModel &model)
{
    QStringList uuids;
    for (int row = 0; row < model.rowCount(); ++row)
        uuids << model.data(model.index(row), ReceiptItemModel::UuidRole).toString();
    return uuids;
}

QStringList promoUuids(const PromoImageModel &model)
{
    QStringList uuids;
    for (const PromoImage &image : model.toList())
        uuids << image.uuid;
    return uuids;
}

QStringList expectedUuids(const QJsonArray &array)
{
    QStringList uuids;
    for (const QJsonValue &value : array)
        uuids << value.toObject().value("uuid").toString();
    return uuids;
}

// Keeps every thread of the global pool busy until unblock(), so that pool
// tasks started meanwhile stay queued.
class PoolBlocker
{
public:
    PoolBlocker() : m_count(QThreadPool::globalInstance()->maxThreadCount())
    {
        for (int i = 0; i < m_count; ++i) {
            m_tasks << QtConcurrent::run(QThreadPool::globalInstance(), [this] {
                m_started.release();
                m_release.acquire();
            });
        }
        m_started.acquire(m_count);
    }
    ~PoolBlocker() { unblock(); }

    void unblock()
    {
        if (m_unblocked)
            return;
        m_unblocked = true;
        m_release.release(m_count);
        for (auto &task : m_tasks)
            task.waitForFinished(); // running already, so this cannot steal queued work
    }

private:
    int m_count;
    bool m_unblocked = false;
    QSemaphore m_started;
    QSemaphore m_release;
    QList<QFuture<void>> m_tasks;
};

// Fails the test if a reset begins inside another one or off the GUI thread.
class ResetWatcher
{
public:
    explicit ResetWatcher(QAbstractItemModel *model)
    {
        QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, &m_context, [this] {
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                m_offThread = true;
            if (++m_depth > 1)
                m_nested = true;
            ++m_begun;
        });
        QObject::connect(model, &QAbstractItemModel::modelReset, &m_context, [this] {
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                m_offThread = true;
            --m_depth;
            ++m_ended;
        });
    }

    bool nested() const { return m_nested; }
    bool offThread() const { return m_offThread; }
    int begun() const { return m_begun; }
    int ended() const { return m_ended; }
    int depth() const { return m_depth; }

private:
    QObject m_context;
    int m_depth = 0;
    int m_begun = 0;
    int m_ended = 0;
    bool m_nested = false;
    bool m_offThread = false;
};

// 200 updates: the first half queued behind a blocked pool and then released
// at once (the pool threads race for the model mutex), the second half free
// running; a few clears in between. Leaves the last array in `last` once every
// future has finished.
template <typename Make, typename Update, typename Clear>
void overlappingUpdates(Make make, Update update, Clear clear, QJsonArray &last)
{
    QList<QFuture<void>> futures;
    {
        PoolBlocker blocker;
        for (int i = 0; i < 100; ++i) {
            last = make(i);
            futures << update(last);
            if (i % 50 == 25)
                clear();
        }
        for (const QFuture<void> &future : futures)
            QVERIFY2(!future.isFinished(), "an update finished while the pool was blocked");
    }
    for (int i = 100; i < 200; ++i) {
        last = make(i);
        futures << update(last);
        if (i == 150)
            clear();
        if (i % 20 == 0)
            QCoreApplication::processEvents(); // let some loads land in between
    }
    for (const QFuture<void> &future : futures)
        QTRY_VERIFY(future.isFinished());
}

} // namespace

void TestModels::initTestCase()
{
    // The out-of-order and blocking tests need at least two pool threads.
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(qMax(pool->maxThreadCount(), 4));
}

void TestModels::receiptRoleNames()
{
    ReceiptItemModel model;
    const QHash<int, QByteArray> expected{
        {257, "uuid"},
        {258, "menuName"},
        {259, "quantity"},
        {260, "menuPrice"},
        {261, "discountAmount"},
        {262, "discountReceipt"},
        {263, "receiptItemRecipeChanges"},
        {264, "total"},
        {266, "recipeChangesOmitted"}, // the display's own count, apart from the terminal's changes
    };
    QCOMPARE(model.roleNames(), expected);
    QVERIFY(!model.roleNames().contains(265));
    QCOMPARE(int(ReceiptItemModel::UuidRole), 257);
    QCOMPARE(int(ReceiptItemModel::ReceiptUuidRole), 265);
}

void TestModels::receiptRoleValues_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("257 uuid") << 257 << QVariant(QStringLiteral("line-1"));
    QTest::newRow("258 menuName") << 258 << QVariant(QStringLiteral("Латте"));
    QTest::newRow("259 quantity") << 259 << QVariant(2.5);
    QTest::newRow("260 menuPrice") << 260 << QVariant(25000.0);
    QTest::newRow("261 discountAmount") << 261 << QVariant(1000.0);
    QTest::newRow("262 discountReceipt") << 262 << QVariant(500.0);
    QTest::newRow("263 receiptItemRecipeChanges")
        << 263 << QVariant(QJsonArray{QJsonObject{{"nomenclature", "Сироп"}, {"quantity", 1}}});
    QTest::newRow("264 total is total plus discount_receipt") << 264 << QVariant(10500.0);
    QTest::newRow("265 receipt uuid") << 265 << QVariant(QStringLiteral("receipt-7"));
}

void TestModels::receiptRoleValues()
{
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    ReceiptItemModel model;
    QFuture<void> done = model.update(parseArray(R"([{"uuid": "line-1", "menu_name": "Латте", "quantity": 2.5,
        "menu_price": 25000, "discount_amount": 1000, "discount_receipt": 500, "total": 10000,
        "receipt_item_recipe_changes": [{"nomenclature": "Сироп", "quantity": 1}], "receipt_uuid": "receipt-7"}])"));
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(model.rowCount(), 1);

    const QVariant actual = model.data(model.index(0), role);
    QCOMPARE(actual.metaType(), expected.metaType());
    QCOMPARE(actual, expected);
}

void TestModels::receiptInvalidAccess_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::newRow("display role") << 0 << 0 << int(Qt::DisplayRole);
    QTest::newRow("edit role") << 0 << 0 << int(Qt::EditRole);
    QTest::newRow("user role 256") << 0 << 0 << 256;
    QTest::newRow("role 267") << 0 << 0 << 267;
    QTest::newRow("negative role") << 0 << 0 << -1;
    QTest::newRow("row equal to row count") << 2 << 0 << 257;
    QTest::newRow("negative row") << -1 << 0 << 257;
    QTest::newRow("second column") << 0 << 1 << 257;
    QTest::newRow("default index") << -2 << 0 << 257;
}

void TestModels::receiptInvalidAccess()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, role);

    ReceiptItemModel model;
    QFuture<void> done = model.update(receiptLines(2, "r"));
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(model.rowCount(), 2);

    const QModelIndex index = row == -2 ? QModelIndex() : model.index(row, column);
    QVERIFY(!model.data(index, role).isValid());
}

void TestModels::receiptStaleIndexAfterShrink()
{
    // An index kept across a rebuild still says "valid" but points past the new list.
    ReceiptItemModel model;
    QFuture<void> first = model.update(receiptLines(3, "a"));
    QTRY_VERIFY(first.isFinished());
    const QModelIndex stale = model.index(2);
    QVERIFY(stale.isValid());

    QFuture<void> second = model.update(receiptLines(1, "b"));
    QTRY_VERIFY(second.isFinished());
    QCOMPARE(model.rowCount(), 1);
    for (int role = 257; role <= 265; ++role)
        QVERIFY(!model.data(stale, role).isValid());
}

void TestModels::receiptRowCountIgnoresParent()
{
    ReceiptItemModel model;
    QFuture<void> done = model.update(receiptLines(3, "r"));
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.rowCount(model.index(1)), 3);
}

void TestModels::receiptEmptyArrayResetsOnce()
{
    ReceiptItemModel model;
    QFuture<void> filled = model.update(receiptLines(2, "r"));
    QTRY_VERIFY(filled.isFinished());

    QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QFuture<void> done = model.update(QJsonArray());
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
}

void TestModels::receiptNonObjectElementGivesEmptyLine()
{
    ReceiptItemModel model;
    QFuture<void> done = model.update(
        parseArray(R"([{"uuid": "a", "total": 1}, 42, {"uuid": "c", "receipt_item_recipe_changes": {}}])"));
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(receiptUuids(model), (QStringList{"a", "", "c"}));

    const QModelIndex middle = model.index(1);
    QCOMPARE(model.data(middle, ReceiptItemModel::MenuNameRole), QVariant(QString()));
    QCOMPARE(model.data(middle, ReceiptItemModel::TotalRole), QVariant(0.0));
    QCOMPARE(model.data(middle, ReceiptItemModel::ReceiptItemRecipeChangesRole), QVariant(QJsonArray()));
    QCOMPARE(model.data(model.index(2), ReceiptItemModel::ReceiptItemRecipeChangesRole),
             QVariant(QJsonArray()));
}

void TestModels::receiptItemsByReceiptUuid_data()
{
    QTest::addColumn<QString>("receiptUuid");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("exact match, list order") << QStringLiteral("R1") << QStringList{"a", "d"};
    QTest::newRow("other letter case") << QStringLiteral("r1") << QStringList{"b"};
    QTest::newRow("prefix only") << QStringLiteral("R") << QStringList{};
    QTest::newRow("trailing space") << QStringLiteral("R1 ") << QStringList{};
    QTest::newRow("empty string") << QStringLiteral("") << QStringList{"c", "e", "f"};
    QTest::newRow("null string") << QString() << QStringList{"c", "e", "f"};
    QTest::newRow("unknown receipt") << QStringLiteral("R9") << QStringList{};
}

void TestModels::receiptItemsByReceiptUuid()
{
    QFETCH(QString, receiptUuid);
    QFETCH(QStringList, lines);

    ReceiptItemModel model;
    QFuture<void> done = model.update(parseArray(R"([
        {"uuid": "a", "receipt_uuid": "R1"}, {"uuid": "b", "receipt_uuid": "r1"}, {"uuid": "c"},
        {"uuid": "d", "receipt_uuid": "R1"}, {"uuid": "e", "receipt_uuid": ""}, {"uuid": "f", "receipt_uuid": 5}])"));
    QTRY_VERIFY(done.isFinished());

    QStringList found;
    for (const ReceiptItem &item : model.itemsByReceiptUuid(receiptUuid))
        found << item.uuid;
    QCOMPARE(found, lines);
}

void TestModels::receiptClearThenUpdate()
{
    ReceiptItemModel model;
    QAbstractItemModelTester tester(&model);
    QFuture<void> first = model.update(receiptLines(3, "a"));
    QTRY_VERIFY(first.isFinished());

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.clear();
    QCOMPARE(reset.count(), 1); // synchronous
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.itemsByReceiptUuid("a").isEmpty());

    QFuture<void> second = model.update(receiptLines(2, "b"));
    QTRY_VERIFY(second.isFinished());
    QCOMPARE(receiptUuids(model), (QStringList{"b-0", "b-1"}));
}

void TestModels::receiptUpdateAfterWaitsForItsGate()
{
    ReceiptItemModel model;
    QAbstractItemModelTester tester(&model);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QPromise<void> gate;
    gate.start();

    QFuture<void> loaded = model.updateAfter(receiptLines(3, "a"), gate.future());
    // The lines are read meanwhile, but not put in place.
    QTest::qWait(100);
    QVERIFY(!loaded.isFinished());
    QCOMPARE(reset.count(), 0);
    QCOMPARE(model.rowCount(), 0);

    gate.finish();
    QTRY_VERIFY(loaded.isFinished());
    QCOMPARE(reset.count(), 1);
    QCOMPARE(receiptUuids(model), (QStringList{"a-0", "a-1", "a-2"}));

    // A gate that is already open, or none at all, holds nothing back.
    QFuture<void> again = model.updateAfter(receiptLines(1, "b"), QtFuture::makeReadyFuture());
    QTRY_VERIFY(again.isFinished());
    QCOMPARE(receiptUuids(model), (QStringList{"b-0"}));
}

void TestModels::receiptClearDuringPendingUpdateWins()
{
    ReceiptItemModel model;
    QAbstractItemModelTester tester(&model);
    QFuture<void> before = model.update(receiptLines(1, "old"));
    QTRY_VERIFY(before.isFinished());

    QFuture<void> pending;
    {
        PoolBlocker blocker;
        pending = model.update(receiptLines(3, "late"));
        QVERIFY(!pending.isFinished());
        model.clear(); // the terminal went away while the lines were still parsing
        QCOMPARE(model.rowCount(), 0);
    }
    QTRY_VERIFY(pending.isFinished());
    QCOMPARE(model.rowCount(), 0);

    // Later messages still fill the model.
    QFuture<void> next = model.update(receiptLines(2, "next"));
    QTRY_VERIFY(next.isFinished());
    QCOMPARE(receiptUuids(model), (QStringList{"next-0", "next-1"}));
}

void TestModels::receiptOverlappingUpdates()
{
    ReceiptItemModel model;
    QAbstractItemModelTester tester(&model);
    ResetWatcher watcher(&model);

    QJsonArray last;
    overlappingUpdates([&](int i) { return receiptLines(i % 40 + 1, QStringLiteral("u%1").arg(i)); },
                       [&](const QJsonArray &array) { return model.update(array); }, [&] { model.clear(); },
                       last);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(receiptUuids(model), expectedUuids(last));
    QCOMPARE(model.itemsByReceiptUuid("u199").size(), last.size());
    QVERIFY(!watcher.nested());
    QVERIFY(!watcher.offThread());
    QCOMPARE(watcher.depth(), 0);
    QCOMPARE(watcher.begun(), watcher.ended());
}

void TestModels::promoFilter_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<bool>("kept");
    QTest::newRow("valid") << QByteArray(R"({"uuid": "a", "is_active": true, "is_order_screen": true})")
                           << true;
    QTest::newRow("missing uuid") << QByteArray(R"({"is_active": true, "is_order_screen": true})") << false;
    QTest::newRow("empty uuid") << QByteArray(R"({"uuid": "", "is_active": true, "is_order_screen": true})")
                                << false;
    QTest::newRow("number uuid") << QByteArray(R"({"uuid": 7, "is_active": true, "is_order_screen": true})")
                                 << false;
    QTest::newRow("inactive") << QByteArray(R"({"uuid": "a", "is_active": false, "is_order_screen": true})")
                              << false;
    QTest::newRow("is_active string true")
        << QByteArray(R"({"uuid": "a", "is_active": "true", "is_order_screen": true})") << false;
    QTest::newRow("is_active number 1")
        << QByteArray(R"({"uuid": "a", "is_active": 1, "is_order_screen": true})") << false;
    QTest::newRow("is_order_screen false")
        << QByteArray(R"({"uuid": "a", "is_active": true, "is_order_screen": false})") << false;
    QTest::newRow("is_order_screen missing") << QByteArray(R"({"uuid": "a", "is_active": true})") << false;
    QTest::newRow("deleted_at null")
        << QByteArray(R"({"uuid": "a", "is_active": true, "is_order_screen": true, "deleted_at": null})")
        << true;
    QTest::newRow("deleted_at unparseable")
        << QByteArray(R"({"uuid": "a", "is_active": true, "is_order_screen": true, "deleted_at": "soon"})")
        << true;
    QTest::newRow("deleted_at number")
        << QByteArray(
               R"({"uuid": "a", "is_active": true, "is_order_screen": true, "deleted_at": 1714989600})")
        << true;
    QTest::newRow("deleted_at Z date")
        << QByteArray(
               R"({"uuid": "a", "is_active": true, "is_order_screen": true, "deleted_at": "2024-05-06T10:00:00Z"})")
        << false;
    QTest::newRow("deleted_at offset date")
        << QByteArray(
               R"({"uuid": "a", "is_active": true, "is_order_screen": true, "deleted_at": "2024-05-06T10:00:00+03:00"})")
        << false;
    QTest::newRow("deleted_at in the future")
        << QByteArray(
               R"({"uuid": "a", "is_active": true, "is_order_screen": true, "deleted_at": "2999-01-01T00:00:00"})")
        << false;
    QTest::newRow("not an object") << QByteArray(R"("a")") << false;
}

void TestModels::promoFilter()
{
    QFETCH(QByteArray, element);
    QFETCH(bool, kept);

    PromoImageModel model;
    QFuture<void> done = model.update(parseArray("[" + element + "]"));
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(model.rowCount(), kept ? 1 : 0);
    QCOMPARE(model.toList().size(), kept ? 1 : 0);
    if (kept)
        QCOMPARE(model.toList().first().uuid, QStringLiteral("a"));
}

void TestModels::promoOrderAndDuplicatesKept()
{
    PromoImageModel model;
    QJsonArray array{promo("c", "http://127.0.0.1/c.png"),  promo("a"),
                     QJsonObject{{"uuid", "dropped"}},      promo("b"),
                     promo("a", "http://127.0.0.1/a2.png"), 17};
    QFuture<void> done = model.update(array);
    QTRY_VERIFY(done.isFinished());

    QCOMPARE(promoUuids(model), (QStringList{"c", "a", "b", "a"}));
    QCOMPARE(model.toList().at(0).image, QStringLiteral("http://127.0.0.1/c.png"));
    QCOMPARE(model.toList().at(3).image, QStringLiteral("http://127.0.0.1/a2.png"));
}

void TestModels::promoDataAlwaysInvalid()
{
    PromoImageModel model;
    QFuture<void> done = model.update(promos(3, "p"));
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.rowCount(model.index(0)), 3);
    for (int row = -1; row <= 3; ++row) {
        for (int role : {int(Qt::DisplayRole), int(Qt::EditRole), 256, 257, 258, 300})
            QVERIFY(!model.data(model.index(row), role).isValid());
    }
    QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
    // No role names of its own: the inherited defaults.
    QCOMPARE(model.roleNames().value(Qt::DisplayRole), QByteArray("display"));
    QVERIFY(!model.roleNames().contains(257));
}

void TestModels::promoEveryUpdateResets_data()
{
    QTest::addColumn<QJsonArray>("array");
    QTest::newRow("empty array") << QJsonArray();
    QTest::newRow("every element dropped") << QJsonArray{QJsonObject{{"uuid", "x"}}, 5, promo("")};
    QTest::newRow("same list as before") << promos(2, "same");
}

void TestModels::promoEveryUpdateResets()
{
    QFETCH(QJsonArray, array);

    PromoImageModel model;
    QFuture<void> first = model.update(promos(2, "same"));
    QTRY_VERIFY(first.isFinished());

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QFuture<void> done = model.update(array);
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(reset.count(), 1);
    QCOMPARE(promoUuids(model), expectedUuids(array).filter("same"));
}

void TestModels::promoClear()
{
    PromoImageModel model;
    QAbstractItemModelTester tester(&model);
    QFuture<void> done = model.update(promos(2, "p"));
    QTRY_VERIFY(done.isFinished());

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    // A receiver of the reset reads the list again, as the schedule does.
    QList<int> seen;
    connect(&model, &QAbstractItemModel::modelReset, this, [&] { seen << int(model.toList().size()); });
    model.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(seen, QList<int>{0});
    QCOMPARE(model.rowCount(), 0);
}

void TestModels::promoClearDuringPendingUpdateWins()
{
    PromoImageModel model;
    QAbstractItemModelTester tester(&model);
    QFuture<void> pending;
    {
        PoolBlocker blocker;
        pending = model.update(promos(3, "late"));
        QVERIFY(!pending.isFinished());
        model.clear();
    }
    QTRY_VERIFY(pending.isFinished());
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.toList().isEmpty());
}

void TestModels::promoOverlappingUpdates()
{
    PromoImageModel model;
    QAbstractItemModelTester tester(&model);
    ResetWatcher watcher(&model);

    QJsonArray last;
    overlappingUpdates([&](int i) { return promos(i % 40 + 1, QStringLiteral("p%1").arg(i)); },
                       [&](const QJsonArray &array) { return model.update(array); }, [&] { model.clear(); },
                       last);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(promoUuids(model), expectedUuids(last));
    QVERIFY(!watcher.nested());
    QVERIFY(!watcher.offThread());
    QCOMPARE(watcher.depth(), 0);
    QCOMPARE(watcher.begun(), watcher.ended());
}

void TestModels::modelDestroyedWithUpdatePending_data()
{
    QTest::addColumn<bool>("receipt");
    QTest::newRow("receipt model") << true;
    QTest::newRow("promo model") << false;
}

void TestModels::modelDestroyedWithUpdatePending()
{
    QFETCH(bool, receipt);

    // At shutdown a rebuild may still be queued on the pool. The dying model
    // must not install it (no reset from a half-destroyed object), and the
    // future must still finish, as cancelled.
    QAbstractItemModel *model = receipt ? static_cast<QAbstractItemModel *>(new ReceiptItemModel)
                                        : static_cast<QAbstractItemModel *>(new PromoImageModel);
    int resets = 0;
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [&resets] { ++resets; });
    QFuture<void> pending;
    {
        PoolBlocker blocker;
        pending = receipt ? static_cast<ReceiptItemModel *>(model)->update(receiptLines(3, "late"))
                          : static_cast<PromoImageModel *>(model)->update(promos(3, "late"));
        QVERIFY(!pending.isFinished());
        delete model;
    }
    QCOMPARE(resets, 0);
    QTRY_VERIFY(pending.isFinished());
    QVERIFY(pending.isCanceled());
}

void TestModels::loaderNewestWinsWhenOlderFinishesLast()
{
    // Separate mutexes let the two parses overlap, so the older one can be
    // made to finish after the newer one has been installed.
    QObject context;
    QMutex firstMutex, secondMutex;
    QSemaphore gate;
    QList<QList<int>> installed;
    auto install = [&](QList<int> &&list) {
        installed << list;
    };

    LatestListLoader<int> loader;
    auto openGate = qScopeGuard([&] { gate.release(); }); // never leave a parse blocked
    QFuture<void> older = loader.load(
        &context, firstMutex,
        [&gate] {
            gate.acquire();
            return QList<int>{1};
        },
        install);
    QFuture<void> newer = loader.load(
        &context, secondMutex, [] { return QList<int>{2}; }, install);

    QTRY_VERIFY(newer.isFinished());
    QCOMPARE(installed, QList<QList<int>>{{2}});
    QVERIFY(!older.isFinished());

    openGate.dismiss();
    gate.release();
    QTRY_VERIFY(older.isFinished());
    QCOMPARE(installed, QList<QList<int>>{{2}}); // the stale result was dropped
}

void TestModels::loaderSupersedeDropsPendingLoads()
{
    QObject context;
    QMutex mutex;
    QList<QList<int>> installed;
    LatestListLoader<int> loader;
    QFuture<void> pending;
    {
        PoolBlocker blocker;
        pending = loader.load(
            &context, mutex, [] { return QList<int>{1}; }, [&](QList<int> &&list) { installed << list; });
        loader.supersede();
    }
    QTRY_VERIFY(pending.isFinished());
    QVERIFY(installed.isEmpty());

    QFuture<void> later = loader.load(
        &context, mutex, [] { return QList<int>{3}; }, [&](QList<int> &&list) { installed << list; });
    QTRY_VERIFY(later.isFinished());
    QCOMPARE(installed, QList<QList<int>>{{3}});
}

QTEST_GUILESS_MAIN(TestModels)

#include "tst_models.moc"
