#pragma once

#include <QHash>
#include <QMetaObject>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <QAbstractItemModel>

// Tells the receipt list which line to bring into view after an "order"
// message replaced all the lines: the last one added or whose quantity
// changed since the previous message. Reads the model in one pass, so that a
// long receipt costs the list little on every message.
class ReceiptFollow : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QAbstractItemModel *model READ model WRITE setModel NOTIFY modelChanged FINAL)
public:
    enum Placement {
        FromTop = -2,   // the first lines, another receipt, or a shorter list
        KeepPlace = -1, // nothing to bring into view
    };
    Q_ENUM(Placement)

    explicit ReceiptFollow(QObject *parent = nullptr);

    QAbstractItemModel *model() const;
    void setModel(QAbstractItemModel *model);

    // Compares the model's lines with those of the previous call and returns
    // the row to show, or a Placement. With nothing new it names again the
    // line it named last, so the list goes back to it after a flick.
    int rowToShow(const QAbstractItemModel *model);

signals:
    void modelChanged();
    // Before the model drops its lines, while the view still shows them.
    void aboutToReplace();
    // After the view has taken in the new lines.
    void replaced(int row);

private:
    void onAboutToBeReset();
    void onReset();

    using Key = QPair<QString, int>; // uuid, and which of the lines with that uuid

    QPointer<QAbstractItemModel> m_model;
    QMetaObject::Connection m_aboutToReset;
    QMetaObject::Connection m_reset;
    QHash<Key, double> m_quantities;
    int m_count = 0;
    QString m_receipt;
    Key m_newest;
};
