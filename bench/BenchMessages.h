#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>

// Terminal messages as a till sends them, for the benchmarks and load tests.
namespace BenchMessages {

// One receipt line of 200-300 bytes of JSON, with recipe changes on
// every fourth line; `seed` varies the texts and figures.
QJsonObject line(int index, int seed);

// The "receipt_items" array of an order.
QJsonArray lines(int count, int seed);

// A whole "order" message; its "to_payment" is `marker`, and its guest's
// "bonus_count" is `marker` too, so a reader can tell which one was applied.
QByteArray order(int lineCount, int marker);

// The same, from a prepared "receipt_items" array (no re-generation cost).
QByteArray order(const QJsonArray &items, int marker);

} // namespace BenchMessages
