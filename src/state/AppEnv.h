#pragma once

#include "Client.h"
#include "Order.h"
#include "ReceiptItemModel.h"
#include "promo/PromoImageModel.h"

#include <QJsonArray>
#include <QObject>
#include <QString>

// The display state the UI binds to. The UI only reads it; the services write
// it and every write notifies, even when the value did not change.
class AppEnv : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ReceiptItemModel *receiptItemModel READ receiptItemModel CONSTANT FINAL)
    Q_PROPERTY(Order *order READ order NOTIFY orderChanged)
    Q_PROPERTY(Client *client READ client NOTIFY clientChanged)
    Q_PROPERTY(bool useFullScreen READ useFullScreen NOTIFY useFullScreenChanged FINAL)
    Q_PROPERTY(QJsonArray promoImagesToShow READ promoImagesToShow NOTIFY promoImagesToShowChanged FINAL)
    Q_PROPERTY(QString logo READ logo NOTIFY logoChanged FINAL)
    Q_PROPERTY(QString shortVersionString READ shortVersionString NOTIFY shortVersionStringChanged FINAL)
    Q_PROPERTY(QString longVersionString READ longVersionString NOTIFY longVersionStringChanged FINAL)
public:
    explicit AppEnv(QObject *parent = nullptr);

    ReceiptItemModel *receiptItemModel() { return &m_receiptItemModel; }
    PromoImageModel *promoImageModel() { return &m_promoImageModel; }
    Order *order() { return &m_order; }
    Client *client() { return &m_client; }
    bool useFullScreen() const { return m_useFullScreen; }
    QJsonArray promoImagesToShow() const { return m_promoImagesToShow; }
    QString logo() const { return m_logo; }
    QString shortVersionString() const { return m_shortVersionString; }
    QString longVersionString() const { return m_longVersionString; }

    // Writers assign and always emit.
    void setUseFullScreen(bool value);
    void setPromoImagesToShow(const QJsonArray &value);
    void setLogo(const QString &value);

signals:
    void orderChanged();
    void clientChanged();
    void useFullScreenChanged();
    void promoImagesToShowChanged();
    void logoChanged();
    void shortVersionStringChanged();
    void longVersionStringChanged();
    void showQRPaymentDialog();
    void showPaymentDialog();
    void closePaymentDialogs();

private:
    bool m_useFullScreen = false;
    QJsonArray m_promoImagesToShow;
    QString m_logo;
    QString m_shortVersionString;
    QString m_longVersionString;
    Order m_order;
    Client m_client;
    ReceiptItemModel m_receiptItemModel;
    PromoImageModel m_promoImageModel;
};
