// Which promotional pictures are due at a given moment, the minute ticks, and
// the publication into the display state.

#include "TestJson.h"
#include "promo/MinuteTimer.h"
#include "promo/PromoImageService.h"
#include "state/AppEnv.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

#include <time.h>

class TestSchedule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void timeWindows_data();
    void timeWindows();
    void weekdaySchedule_data();
    void weekdaySchedule();
    void weekdayTable_data();
    void weekdayTable();
    void validityPeriod_data();
    void validityPeriod();
    void validityPeriodAgainstTheClock();
    void publishedEntries();

    void minuteDelay_data();
    void minuteDelay();
    void minuteTimerStartStopAndTick();

    void serviceStartsIdle();
    void serviceRunAndStop();
    void modelResetPublishes();
    void everyEvaluationEmits();
};

namespace {

using TestJson::parseObject;

QJsonArray parseArray(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        qFatal("bad test JSON: %s", json.constData());
    return document.array();
}

// 2024-05-06 is a Monday.
QDateTime local(int day, const QTime &time)
{
    return QDateTime(QDate(2024, 5, day), time, Qt::LocalTime);
}

PromoImage image(const QByteArray &json)
{
    PromoImage result;
    result.fromJson(parseObject(json));
    return result;
}

} // namespace

void TestSchedule::initTestCase()
{
    // A fixed zone three hours east of UTC without daylight saving, so that
    // local, UTC and offset texts name different wall-clock times.
    qputenv("TZ", "MSK-3");
    tzset();
    QCOMPARE(local(6, QTime(10, 0)).offsetFromUtc(), 3 * 3600);
}

void TestSchedule::timeWindows_data()
{
    QTest::addColumn<QByteArray>("windows");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("due");

    const QByteArray day = R"([["09:00", "18:00"]])";
    QTest::newRow("empty window array is due all day") << QByteArray("[]") << QTime(3, 0) << true;
    QTest::newRow("array of one empty window") << QByteArray("[[]]") << QTime(12, 0) << false;
    QTest::newRow("only non-array elements")
        << QByteArray(R"(["09:00", 5, {"a": 1}])") << QTime(12, 0) << false;
    QTest::newRow("start exactly") << day << QTime(9, 0) << true;
    QTest::newRow("a millisecond before start") << day << QTime(8, 59, 59, 999) << false;
    QTest::newRow("inside") << day << QTime(12, 30, 15, 500) << true;
    QTest::newRow("end exactly") << day << QTime(18, 0) << true;
    QTest::newRow("a millisecond after end") << day << QTime(18, 0, 0, 1) << false;
    QTest::newRow("wrap past midnight, late evening")
        << QByteArray(R"([["22:00", "02:00"]])") << QTime(23, 0) << false;
    QTest::newRow("wrap past midnight, early morning")
        << QByteArray(R"([["22:00", "02:00"]])") << QTime(1, 0) << false;
    QTest::newRow("wrap past midnight, at its start")
        << QByteArray(R"([["22:00", "02:00"]])") << QTime(22, 0) << false;
    QTest::newRow("end 24:00 never matches")
        << QByteArray(R"([["00:00", "24:00"]])") << QTime(10, 0) << false;
    QTest::newRow("end 24:00 late at night")
        << QByteArray(R"([["20:00", "24:00"]])") << QTime(23, 59, 59, 999) << false;
    QTest::newRow("end 23:59 at 23:59:00.000")
        << QByteArray(R"([["20:00", "23:59"]])") << QTime(23, 59) << true;
    QTest::newRow("end 23:59 at 23:59:00.001")
        << QByteArray(R"([["20:00", "23:59"]])") << QTime(23, 59, 0, 1) << false;
    QTest::newRow("null start matches from midnight")
        << QByteArray(R"([[null, "12:00"]])") << QTime(0, 0) << true;
    QTest::newRow("null start, after end")
        << QByteArray(R"([[null, "12:00"]])") << QTime(12, 0, 0, 1) << false;
    QTest::newRow("unparseable start") << QByteArray(R"([["9am", "12:00"]])") << QTime(11, 0) << true;
    QTest::newRow("empty start text") << QByteArray(R"([["", "12:00"]])") << QTime(11, 59) << true;
    QTest::newRow("missing end") << QByteArray(R"([["09:00"]])") << QTime(10, 0) << false;
    QTest::newRow("number as end") << QByteArray(R"([["09:00", 1800]])") << QTime(10, 0) << false;
    QTest::newRow("unparseable end") << QByteArray(R"([["09:00", "6pm"]])") << QTime(10, 0) << false;
    QTest::newRow("start after end") << QByteArray(R"([["18:00", "09:00"]])") << QTime(12, 0) << false;
    QTest::newRow("one-minute window at its minute")
        << QByteArray(R"([["10:00", "10:00"]])") << QTime(10, 0) << true;
    QTest::newRow("one-minute window a millisecond later")
        << QByteArray(R"([["10:00", "10:00"]])") << QTime(10, 0, 0, 1) << false;
    QTest::newRow("second window matches")
        << QByteArray(R"([["08:00", "09:00"], ["14:00", "18:00"]])") << QTime(15, 0) << true;
    QTest::newRow("between two windows")
        << QByteArray(R"([["08:00", "09:00"], ["14:00", "18:00"]])") << QTime(12, 0) << false;
    QTest::newRow("empty window skipped before a match")
        << QByteArray(R"([[], ["09:00", "18:00"]])") << QTime(10, 0) << true;
    QTest::newRow("extra elements ignored")
        << QByteArray(R"([["09:00", "18:00", "20:00"]])") << QTime(19, 0) << false;
}

void TestSchedule::timeWindows()
{
    QFETCH(QByteArray, windows);
    QFETCH(QTime, time);
    QFETCH(bool, due);

    AppEnv env;
    PromoImageService service(&env);
    const QDateTime now = local(6, time);
    QCOMPARE(service.checkShedule(parseArray(windows), now), due);

    // The same window inside a record under today's key, through the whole decision.
    const PromoImage record = image(R"({"uuid": "a", "is_active": true, "is_order_screen": true,
        "schedule": {"monday": )" + windows +
                                    "}}");
    QCOMPARE(service.imagesAt({record}, now).size(), due ? 1 : 0);
    // The given moment is an instant: the same instant in UTC reads the same local clock.
    QCOMPARE(service.checkShedule(parseArray(windows), now.toUTC()), due);
}

void TestSchedule::weekdaySchedule_data()
{
    QTest::addColumn<QByteArray>("schedule");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("due");

    const QDateTime mondayTen = local(6, QTime(10, 0));
    QTest::newRow("no schedule key") << QByteArray() << mondayTen << true;
    QTest::newRow("empty schedule object") << QByteArray("{}") << mondayTen << true;
    QTest::newRow("schedule not an object") << QByteArray(R"([["00:00", "00:01"]])") << mondayTen << true;
    QTest::newRow("no key for today") << QByteArray(R"({"tuesday": [[]]})") << mondayTen << true;
    QTest::newRow("empty array under today") << QByteArray(R"({"monday": []})") << mondayTen << true;
    QTest::newRow("one empty window today") << QByteArray(R"({"monday": [[]]})") << mondayTen << false;
    QTest::newRow("capitalised weekday ignored") << QByteArray(R"({"Monday": [[]]})") << mondayTen << true;
    QTest::newRow("upper-case weekday ignored")
        << QByteArray(R"({"MONDAY": [["00:00", "00:01"]]})") << mondayTen << true;
    QTest::newRow("today's value a string")
        << QByteArray(R"({"monday": "09:00-18:00"})") << mondayTen << true;
    QTest::newRow("today's value an object")
        << QByteArray(R"({"monday": {"from": "00:00"}})") << mondayTen << true;
    QTest::newRow("window today, inside")
        << QByteArray(R"({"monday": [["09:00", "11:00"]]})") << mondayTen << true;
    QTest::newRow("window today, outside")
        << QByteArray(R"({"monday": [["11:00", "12:00"]]})") << mondayTen << false;
    QTest::newRow("other day's window does not apply")
        << QByteArray(R"({"monday": [], "tuesday": [["11:00", "12:00"]]})") << mondayTen << true;
    QTest::newRow("sunday key on the local Sunday")
        << QByteArray(R"({"sunday": [[]]})") << local(12, QTime(10, 0)) << false;
    // 22:30 UTC on Sunday is 01:30 on Monday here: weekday and time are local.
    QTest::newRow("UTC instant late on Sunday is local Monday")
        << QByteArray(R"({"sunday": [[]], "monday": [["01:00", "02:00"]]})")
        << QDateTime(QDate(2024, 5, 5), QTime(22, 30), Qt::UTC) << true;
    QTest::newRow("offset instant read on the local clock")
        << QByteArray(R"({"monday": [["09:00", "09:30"]]})")
        << QDateTime(QDate(2024, 5, 6), QTime(7, 15), Qt::OffsetFromUTC, 60 * 60) << true;
}

void TestSchedule::weekdaySchedule()
{
    QFETCH(QByteArray, schedule);
    QFETCH(QDateTime, now);
    QFETCH(bool, due);

    AppEnv env;
    PromoImageService service(&env);
    QByteArray json = R"({"uuid": "a", "is_active": true, "is_order_screen": true, "image": "x.png")";
    if (!schedule.isNull())
        json += R"(, "schedule": )" + schedule;
    json += "}";
    QCOMPARE(service.imagesAt({image(json)}, now).size(), due ? 1 : 0);
}

void TestSchedule::weekdayTable_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("day"); // of May 2024; the 6th is a Monday
    const QStringList keys{"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    for (int i = 0; i < keys.size(); ++i)
        QTest::newRow(qPrintable(keys.at(i))) << keys.at(i) << 6 + i;
}

void TestSchedule::weekdayTable()
{
    QFETCH(QString, key);
    QFETCH(int, day);

    AppEnv env;
    PromoImageService service(&env);
    // One empty window: not due on that day only.
    const PromoImage record =
        image(R"({"uuid": "a", "is_active": true, "is_order_screen": true, "schedule": {")" + key.toUtf8() +
              R"(": [[]]}})");
    for (int d = 6; d <= 12; ++d) {
        const bool due = !service.imagesAt({record}, local(d, QTime(12, 0))).isEmpty();
        QVERIFY2(due == (d != day), qPrintable(QStringLiteral("day %1").arg(d)));
    }
}

void TestSchedule::validityPeriod_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<bool>("due");

    // Evaluated at 10:00:00.000 local, which is 07:00:00.000 UTC.
    QTest::newRow("both open") << QByteArray("null") << QByteArray("null") << true;
    QTest::newRow("start equals now, local text")
        << QByteArray(R"("2024-05-06T10:00:00")") << QByteArray("null") << true;
    QTest::newRow("start equals now, Z")
        << QByteArray(R"("2024-05-06T07:00:00Z")") << QByteArray("null") << true;
    QTest::newRow("start equals now, offset")
        << QByteArray(R"("2024-05-06T08:00:00+01:00")") << QByteArray("null") << true;
    QTest::newRow("start a millisecond after now")
        << QByteArray(R"("2024-05-06T07:00:00.001Z")") << QByteArray("null") << false;
    QTest::newRow("start in the future, local text")
        << QByteArray(R"("2024-05-06T10:30:00")") << QByteArray("null") << false;
    QTest::newRow("start earlier than now only as UTC text")
        << QByteArray(R"("2024-05-06T08:00:00Z")") << QByteArray("null") << false;
    QTest::newRow("start in the past")
        << QByteArray(R"("2024-05-01T00:00:00Z")") << QByteArray("null") << true;
    QTest::newRow("end equals now, Z")
        << QByteArray("null") << QByteArray(R"("2024-05-06T07:00:00Z")") << true;
    QTest::newRow("end equals now, negative offset")
        << QByteArray("null") << QByteArray(R"("2024-05-06T05:00:00-02:00")") << true;
    QTest::newRow("end a millisecond before now")
        << QByteArray("null") << QByteArray(R"("2024-05-06T06:59:59.999Z")") << false;
    QTest::newRow("end later than now only as local text")
        << QByteArray("null") << QByteArray(R"("2024-05-06T09:30:00")") << false;
    QTest::newRow("end in the future")
        << QByteArray("null") << QByteArray(R"("2024-05-06T09:00:00Z")") << true;
    QTest::newRow("both bounds equal now")
        << QByteArray(R"("2024-05-06T07:00:00Z")") << QByteArray(R"("2024-05-06T10:00:00+03:00")") << true;
    QTest::newRow("inside the period")
        << QByteArray(R"("2024-05-01T00:00:00Z")") << QByteArray(R"("2024-06-01T00:00:00Z")") << true;
    QTest::newRow("start after end") << QByteArray(R"("2024-05-06T11:00:00")")
                                     << QByteArray(R"("2024-05-06T09:00:00")") << false;
    QTest::newRow("unparseable start is open")
        << QByteArray(R"("soon")") << QByteArray(R"("2024-05-06T09:00:00Z")") << true;
    QTest::newRow("unparseable end is open")
        << QByteArray(R"("2024-05-06T06:00:00Z")") << QByteArray(R"("later")") << true;
    QTest::newRow("valid start, end in the past")
        << QByteArray(R"("2024-05-01T00:00:00Z")") << QByteArray(R"("2024-05-06T06:00:00Z")") << false;
}

void TestSchedule::validityPeriod()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, end);
    QFETCH(bool, due);

    const PromoImage record =
        image(R"({"uuid": "a", "is_active": true, "is_order_screen": true, "start_at": )" + start +
              R"(, "end_at": )" + end + "}");
    const QDateTime now = local(6, QTime(10, 0));
    QCOMPARE(PromoImageService::checkStartEndAt(record.start_at, record.end_at, now), due);
    QCOMPARE(PromoImageService::checkStartEndAt(record.start_at, record.end_at, now.toUTC()), due);

    AppEnv env;
    PromoImageService service(&env);
    QCOMPARE(service.imagesAt({record}, now).size(), due ? 1 : 0);
}

void TestSchedule::validityPeriodAgainstTheClock()
{
    AppEnv env;
    PromoImageService service(&env);
    const QDateTime now = QDateTime::currentDateTime();
    QVERIFY(service.checkStartEnd(QDateTime(), QDateTime()));
    QVERIFY(service.checkStartEnd(now.addSecs(-3600), now.addSecs(3600)));
    QVERIFY(!service.checkStartEnd(now.addSecs(3600), QDateTime()));
    QVERIFY(!service.checkStartEnd(QDateTime(), now.addSecs(-3600)));

    PromoImage current =
        image(R"({"uuid": "now", "is_active": true, "is_order_screen": true, "image": "n.png"})");
    PromoImage expired = current;
    expired.image = QStringLiteral("old.png");
    expired.end_at = now.addDays(-1);
    const QJsonArray due = service.imagesForNow({expired, current});
    QCOMPARE(due.size(), 1);
    QCOMPARE(due.at(0).toObject().value("url").toString(), QStringLiteral("n.png"));
}

void TestSchedule::publishedEntries()
{
    AppEnv env;
    PromoImageService service(&env);
    const QList<PromoImage> records{
        image(R"({"uuid": "a", "name": "A", "image": "http://127.0.0.1/a.png", "timeout": 5,
                  "schedule": {"monday": [["09:00", "18:00"]]}, "start_at": "2024-01-01T00:00:00Z"})"),
        image(R"({"uuid": "b", "image": "http://127.0.0.1/b.png"})"),
        image(R"({"uuid": "c", "image": "http://127.0.0.1/c.png", "end_at": "2024-01-01T00:00:00Z"})"),
        image(R"({"uuid": "a", "image": "http://127.0.0.1/a.png", "timeout": 5})"),
    };

    const QJsonArray due = service.imagesAt(records, local(6, QTime(10, 0)));
    // Order kept, duplicates kept, only "url" and "timeout", timeout an integer.
    QCOMPARE(
        QJsonDocument(due).toJson(QJsonDocument::Compact),
        QByteArray(
            R"([{"timeout":5,"url":"http://127.0.0.1/a.png"},{"timeout":0,"url":"http://127.0.0.1/b.png"},)"
            R"({"timeout":5,"url":"http://127.0.0.1/a.png"}])"));
    QVERIFY(service.imagesAt({}, local(6, QTime(10, 0))).isEmpty());
}

void TestSchedule::minuteDelay_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<int>("delay");
    QTest::newRow("10:15:42.300") << QTime(10, 15, 42, 300) << 18000;
    QTest::newRow("10:15:00.000") << QTime(10, 15, 0, 0) << 60000;
    QTest::newRow("10:15:00.999") << QTime(10, 15, 0, 999) << 60000;
    QTest::newRow("10:15:01.000") << QTime(10, 15, 1, 0) << 59000;
    QTest::newRow("10:15:59.999") << QTime(10, 15, 59, 999) << 1000;
    QTest::newRow("across midnight") << QTime(23, 59, 30, 500) << 30000;
}

void TestSchedule::minuteDelay()
{
    QFETCH(QTime, time);
    QFETCH(int, delay);
    QCOMPARE(MinuteTimer::delayToNextMinute(local(6, time)), delay);
    QCOMPARE(MinuteTimer::delayToNextMinute(local(6, time).toUTC()), delay);
}

void TestSchedule::minuteTimerStartStopAndTick()
{
    // The inner timer keeps Qt's coarse default type, which may move a
    // one-minute expiry by up to 5 %.
    constexpr int coarseLimit = 60000 * 105 / 100;
    MinuteTimer timer;
    QSignalSpy ticks(&timer, &MinuteTimer::timeout);
    QVERIFY(!timer.isActive());

    timer.start();
    QVERIFY(timer.isActive());
    QVERIFY(timer.remainingTime() > 0);
    QVERIFY(timer.remainingTime() <= coarseLimit);
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 0); // scheduling only, no tick at once

    timer.stop();
    QVERIFY(!timer.isActive());

    // Expiry of the inner timer: one tick, and the next one is scheduled.
    QVERIFY(QMetaObject::invokeMethod(&timer, "onMinuteTimeout"));
    QCOMPARE(ticks.count(), 1);
    QVERIFY(timer.isActive());
    QVERIFY(timer.remainingTime() <= coarseLimit);
    timer.stop();
}

void TestSchedule::serviceStartsIdle()
{
    AppEnv env;
    QSignalSpy published(&env, &AppEnv::promoImagesToShowChanged);
    PromoImageService service(&env);
    QCoreApplication::processEvents();
    QCOMPARE(published.count(), 0);
    QVERIFY(!service.minuteTimer().isActive());
    // Until the first evaluation: one element, itself an empty array.
    QCOMPARE(env.promoImagesToShow(), QJsonArray{QJsonValue(QJsonArray())});
}

void TestSchedule::serviceRunAndStop()
{
    AppEnv env;
    PromoImageService service(&env);
    QSignalSpy published(&env, &AppEnv::promoImagesToShowChanged);

    service.run();
    QVERIFY(service.minuteTimer().isActive());
    QCoreApplication::processEvents();
    QCOMPARE(published.count(), 0); // run() does not evaluate at once

    service.stop();
    QVERIFY(!service.minuteTimer().isActive());
    // Model resets still evaluate after stop().
    env.promoImageModel()->clear();
    QCOMPARE(published.count(), 1);
    QCOMPARE(env.promoImagesToShow(), QJsonArray());
}

void TestSchedule::modelResetPublishes()
{
    AppEnv env;
    PromoImageService service(&env);
    QSignalSpy published(&env, &AppEnv::promoImagesToShowChanged);

    const QJsonArray array = parseArray(R"([
        {"uuid": "a", "is_active": true, "is_order_screen": true, "image": "http://127.0.0.1/a.png", "timeout": 7},
        {"uuid": "b", "is_active": true, "is_order_screen": true, "image": "http://127.0.0.1/b.png",
         "end_at": "2000-01-01T00:00:00Z"},
        {"uuid": "c", "is_active": false, "is_order_screen": true, "image": "http://127.0.0.1/c.png"}])");
    QFuture<void> done = env.promoImageModel()->update(array);
    QTRY_VERIFY(done.isFinished());

    QCOMPARE(published.count(), 1);
    QCOMPARE(env.promoImagesToShow(),
             (QJsonArray{QJsonObject{{"url", "http://127.0.0.1/a.png"}, {"timeout", 7}}}));

    // The terminal went away: the model is emptied and an empty array published.
    env.promoImageModel()->clear();
    QCOMPARE(published.count(), 2);
    QCOMPARE(env.promoImagesToShow(), QJsonArray());
}

void TestSchedule::everyEvaluationEmits()
{
    AppEnv env;
    PromoImageService service(&env);
    QSignalSpy published(&env, &AppEnv::promoImagesToShowChanged);

    env.promoImageModel()->clear();
    env.promoImageModel()->clear();
    QCOMPARE(published.count(), 2); // unchanged result, still announced

    // Minute ticks evaluate too, also with nothing new.
    auto *timer = const_cast<MinuteTimer *>(&service.minuteTimer());
    QVERIFY(QMetaObject::invokeMethod(timer, "onMinuteTimeout"));
    QVERIFY(QMetaObject::invokeMethod(timer, "onMinuteTimeout"));
    QCOMPARE(published.count(), 4);
    QCOMPARE(env.promoImagesToShow(), QJsonArray());
    timer->stop();
}

QTEST_GUILESS_MAIN(TestSchedule)

#include "tst_schedule.moc"
