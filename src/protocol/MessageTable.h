#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

// The wire protocol written once: the message kinds with their paths, the
// keys each kind carries and the JSON type the display reads under each.
// The records' readers name their keys from Key, and MessageCheck walks the
// shapes, so the two cannot drift apart.
namespace Key {
// The envelope.
inline constexpr QLatin1String path{"path"};
inline constexpr QLatin1String content{"content"};
// "order": its lines, totals and client.
inline constexpr QLatin1String receiptItems{"receipt_items"};
inline constexpr QLatin1String order{"order"};
inline constexpr QLatin1String guest{"guest"};
inline constexpr QLatin1String uuid{"uuid"};
inline constexpr QLatin1String menuName{"menu_name"};
inline constexpr QLatin1String quantity{"quantity"};
inline constexpr QLatin1String menuPrice{"menu_price"};
inline constexpr QLatin1String discountAmount{"discount_amount"};
inline constexpr QLatin1String discountReceipt{"discount_receipt"};
inline constexpr QLatin1String total{"total"};
inline constexpr QLatin1String recipeChanges{"receipt_item_recipe_changes"};
inline constexpr QLatin1String nomenclature{"nomenclature"};
inline constexpr QLatin1String receiptUuid{"receipt_uuid"};
inline constexpr QLatin1String toPayment{"to_payment"};
inline constexpr QLatin1String discount{"discount"};
inline constexpr QLatin1String discountPercent{"discount_percent"};
inline constexpr QLatin1String clientName{"client_name"};
inline constexpr QLatin1String clientLastName{"client_lastname"};
inline constexpr QLatin1String discountName{"discount_name"};
inline constexpr QLatin1String bonusCount{"bonus_count"};
// "promo_image": the catalogue.
inline constexpr QLatin1String promoImages{"promo_images"};
inline constexpr QLatin1String name{"name"};
inline constexpr QLatin1String isActive{"is_active"};
inline constexpr QLatin1String image{"image"};
inline constexpr QLatin1String isOrderScreen{"is_order_screen"};
inline constexpr QLatin1String isQueue{"is_queue"};
inline constexpr QLatin1String startAt{"start_at"};
inline constexpr QLatin1String endAt{"end_at"};
inline constexpr QLatin1String schedule{"schedule"};
inline constexpr QLatin1String createdBy{"created_by"};
inline constexpr QLatin1String createdAt{"created_at"};
inline constexpr QLatin1String updatedAt{"updated_at"};
inline constexpr QLatin1String deletedAt{"deleted_at"};
inline constexpr QLatin1String timeout{"timeout"};
// "app_logo", "payment", "bonus".
inline constexpr QLatin1String logo{"logo"};
inline constexpr QLatin1String isFinished{"is_finished"};
inline constexpr QLatin1String amount{"amount"};
inline constexpr QLatin1String qrcodeTable{"qrcode_table"};
inline constexpr QLatin1String result{"result"};
inline constexpr QLatin1String count{"count"};
inline constexpr QLatin1String isReplenishment{"is_replenisment"}; // spelt as terminals send it
} // namespace Key

namespace MessageTable {

// The message kinds; the numbers are the path table's values.
enum class Kind { Order = 1, PromoImage, AppLogo, Payment, Bonus };

// What the display reads under a key, with the conversions it applies.
enum class Type {
    String,
    Number,
    Integer,
    Boolean,
    DateTime,
    Object,
    ObjectArray,
    Schedule,
    Shown, // kept as sent and shown as text: a number or a string
};

struct Field;
using Shape = std::vector<Field>;

struct Field
{
    QString key;
    Type type;
    QString unit;                 // Integer: what it counts
    const Shape *shape = nullptr; // Object and ObjectArray: the keys inside
    // About a person: a warning names the key and the JSON type, never the
    // value, since warnings go to the journal of every shop.
    bool personal = false;
    // Set where a missing (null, "") value shows something the terminal may
    // not mean: what the screen then shows, for the check's warning.
    QString whenMissing = {};
};

struct KindEntry
{
    Kind kind;
    QString path;
    const Shape *content;
};

// In the order the check names them.
const std::vector<KindEntry> &kinds();
const Shape &envelope();

// A promo entry's "schedule": its keys, Monday first (Qt's day 1), and the
// "hh:mm" of a window's bounds (invalid if it is not one).
const QStringList &weekdays();

// The outcomes a finished payment may name; any other leaves the screen as
// a payment without one.
const QStringList &paymentResults();
QTime timeOfDay(const QString &text);

} // namespace MessageTable
