#pragma once

#include "core/AppCore.h"
#include "core/IService.h"
#include "network/NetworkService.h"
#include "pictures/PicturePreloader.h"
#include "promo/PromoImageModel.h"
#include "state/AppEnv.h"
#include "state/Client.h"
#include "state/Order.h"
#include "state/ReceiptItemModel.h"

#include <QtQml/qqmlregistration.h>

// The objects the documents reach through "appCore", made known to the engine
// and the linter under their own names. The display makes them; documents
// only read them, so none can be created in QML.

struct AppCoreForeign
{
    Q_GADGET
    QML_FOREIGN(AppCore)
    QML_NAMED_ELEMENT(AppCore)
    QML_UNCREATABLE("The display's core, given as appCore.")
};

struct AppEnvForeign
{
    Q_GADGET
    QML_FOREIGN(AppEnv)
    QML_NAMED_ELEMENT(AppEnv)
    QML_UNCREATABLE("Part of the display's core.")
};

struct OrderForeign
{
    Q_GADGET
    QML_FOREIGN(Order)
    QML_NAMED_ELEMENT(Order)
    QML_UNCREATABLE("Part of the display's core.")
};

struct ClientForeign
{
    Q_GADGET
    QML_FOREIGN(Client)
    QML_NAMED_ELEMENT(Client)
    QML_UNCREATABLE("Part of the display's core.")
};

struct ReceiptItemModelForeign
{
    Q_GADGET
    QML_FOREIGN(ReceiptItemModel)
    QML_NAMED_ELEMENT(ReceiptItemModel)
    QML_UNCREATABLE("Part of the display's core.")
};

struct PromoImageModelForeign
{
    Q_GADGET
    QML_FOREIGN(PromoImageModel)
    QML_NAMED_ELEMENT(PromoImageModel)
    QML_UNCREATABLE("Part of the display's core.")
};

// The services' base: unnamed, so that a service is known as a QObject
// (a Connections target).
struct IServiceForeign
{
    Q_GADGET
    QML_FOREIGN(IService)
    QML_ANONYMOUS
};

struct NetworkServiceForeign
{
    Q_GADGET
    QML_FOREIGN(NetworkService)
    QML_NAMED_ELEMENT(NetworkService)
    QML_UNCREATABLE("Part of the display's core.")
};

struct PicturePreloaderForeign
{
    Q_GADGET
    QML_FOREIGN(PicturePreloader)
    QML_NAMED_ELEMENT(PicturePreloader)
    QML_UNCREATABLE("Part of the display's core.")
};
