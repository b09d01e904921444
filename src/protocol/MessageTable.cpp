#include "MessageTable.h"

namespace MessageTable {
namespace {

Field field(QLatin1String key, Type type, const char *unit = "")
{
    return {QString(key), type, QString::fromLatin1(unit), nullptr};
}

Field personal(QLatin1String key, Type type)
{
    Field f = field(key, type);
    f.personal = true;
    return f;
}

Field nested(QLatin1String key, Type type, const Shape *shape)
{
    return {QString(key), type, QString(), shape};
}

Field shownUnless(QLatin1String key, Type type, const char *whenMissing)
{
    Field f = field(key, type);
    f.whenMissing = QString::fromUtf8(whenMissing);
    return f;
}

// A recipe change is kept as the terminal sent it and printed "name xquantity".
const Shape recipeChangeShape = {field(Key::nomenclature, Type::String),
                                 shownUnless(Key::quantity, Type::Shown, "the chip shows the name alone")};

const Shape receiptItemShape = {
    field(Key::uuid, Type::String),
    field(Key::menuName, Type::String),
    field(Key::quantity, Type::Number),
    field(Key::menuPrice, Type::Number),
    field(Key::discountAmount, Type::Number),
    field(Key::discountReceipt, Type::Number),
    field(Key::total, Type::Number),
    nested(Key::recipeChanges, Type::ObjectArray, &recipeChangeShape),
    field(Key::receiptUuid, Type::String),
};

const Shape orderShape = {field(Key::toPayment, Type::Number), field(Key::discount, Type::Number),
                          field(Key::discountPercent, Type::Number)};

const Shape guestShape = {
    personal(Key::uuid, Type::String),           personal(Key::clientName, Type::String),
    personal(Key::clientLastName, Type::String), field(Key::discountName, Type::String),
    field(Key::discountPercent, Type::Number),   personal(Key::bonusCount, Type::Number)};

const Shape orderContent = {nested(Key::receiptItems, Type::ObjectArray, &receiptItemShape),
                            nested(Key::order, Type::Object, &orderShape),
                            nested(Key::guest, Type::Object, &guestShape)};

const Shape promoShape = {
    field(Key::uuid, Type::String),           field(Key::name, Type::String),
    field(Key::isActive, Type::Boolean),      field(Key::image, Type::String),
    field(Key::isOrderScreen, Type::Boolean), field(Key::isQueue, Type::Boolean),
    field(Key::startAt, Type::DateTime),      field(Key::endAt, Type::DateTime),
    field(Key::schedule, Type::Schedule),     field(Key::createdBy, Type::Integer),
    field(Key::createdAt, Type::DateTime),    field(Key::updatedAt, Type::DateTime),
    field(Key::deletedAt, Type::DateTime),    field(Key::timeout, Type::Integer, "seconds"),
};

const Shape promoContent = {nested(Key::promoImages, Type::ObjectArray, &promoShape)};
const Shape logoContent = {field(Key::logo, Type::String)};
const Shape paymentContent = {field(Key::isFinished, Type::Boolean),
                              field(Key::amount, Type::Integer, "hundredths"),
                              field(Key::receiptUuid, Type::String), field(Key::qrcodeTable, Type::String),
                              field(Key::result, Type::String)};
const Shape bonusContent = {field(Key::count, Type::Integer, "hundredths"),
                            field(Key::isReplenishment, Type::Boolean)};

const Shape envelopeShape = {field(Key::path, Type::String), field(Key::content, Type::Object)};

} // namespace

const std::vector<KindEntry> &kinds()
{
    static const std::vector<KindEntry> table = {
        {Kind::Order, QStringLiteral("order"), &orderContent},
        {Kind::PromoImage, QStringLiteral("promo_image"), &promoContent},
        {Kind::AppLogo, QStringLiteral("app_logo"), &logoContent},
        {Kind::Payment, QStringLiteral("payment"), &paymentContent},
        {Kind::Bonus, QStringLiteral("bonus"), &bonusContent},
    };
    return table;
}

const Shape &envelope()
{
    return envelopeShape;
}

const QStringList &paymentResults()
{
    static const QStringList results = {QStringLiteral("success"), QStringLiteral("declined")};
    return results;
}

const QStringList &weekdays()
{
    static const QStringList names = {QStringLiteral("monday"),    QStringLiteral("tuesday"),
                                      QStringLiteral("wednesday"), QStringLiteral("thursday"),
                                      QStringLiteral("friday"),    QStringLiteral("saturday"),
                                      QStringLiteral("sunday")};
    return names;
}

QTime timeOfDay(const QString &text)
{
    return QTime::fromString(text, QStringLiteral("hh:mm"));
}

} // namespace MessageTable
