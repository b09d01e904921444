#include "NetworkService.h"

#include "LinkLog.h"
#include "pictures/QrCodeImage.h"
#include "protocol/MessageCheck.h"
#include "state/AppEnv.h"

#include <QWebSocket>

#include <cmath>
#include <limits>
#include <utility>

namespace {

// Truncates toward zero into the int range; the terminal's doubles may be
// anything, and an out-of-range conversion would be undefined.
int truncatedInt(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double t = std::trunc(value);
    if (t >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (t <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(t);
}

quint16 g_portForServices = NetworkService::defaultPort;
NetworkService::Timing g_timingForServices;

} // namespace

void NetworkService::setPortForTesting(quint16 port)
{
    g_portForServices = port;
}

void NetworkService::setTimingForTesting(const Timing &timing)
{
    g_timingForServices = timing;
}

NetworkService::NetworkService(AppEnv *env, QObject *parent)
    : IService(parent), m_env(env), m_port(g_portForServices),
      m_links(&m_server, g_portForServices, g_timingForServices, this),
      m_server(QStringLiteral("QUORVEX ORDER SCREN"), QWebSocketServer::NonSecureMode)
{
    connect(&m_server, &QWebSocketServer::newConnection, this, &NetworkService::newConnection);
    connect(&m_links, &TerminalLinks::listeningChanged, this, &NetworkService::listeningChanged);
    connect(&m_links, &TerminalLinks::addressesChanged, this, [this] {
        m_avaliableIps = m_links.addresses();
        emit avaliableIpsChanged();
    });
    connect(&m_links, &TerminalLinks::closed, this, &NetworkService::onLinkClosed);

    for (const MessageTable::KindEntry &kind : MessageTable::kinds())
        m_paths.insert(kind.path, int(kind.kind));

    m_outcomeShown.setSingleShot(true);
    connect(&m_outcomeShown, &QTimer::timeout, this, &NetworkService::endPaymentOutcome);
}

NetworkService::~NetworkService()
{
    // The server does not own the sockets it hands out; their last signals
    // must not reach a half-destroyed service.
    m_server.disconnect(this);
    m_links.release(this);
}

void NetworkService::setAddressSource(AddressSource source)
{
    m_links.setAddressSource(std::move(source));
}

void NetworkService::run()
{
    m_links.start();
}

void NetworkService::stop()
{
    m_links.stopListening();
}

void NetworkService::newConnection()
{
    while (QWebSocket *socket = m_server.nextPendingConnection()) {
        const quint64 id = m_links.attach(socket);
        if (id == 0)
            continue;
        m_currentTerminal = socket;
        connect(socket, &QWebSocket::binaryMessageReceived, this, &NetworkService::binaryMessageRecived);
        connect(socket, &QWebSocket::textMessageReceived, this, &NetworkService::textMessageIgnored);
        connect(socket, &QWebSocket::disconnected, this, &NetworkService::onTerminalDisconnected);
        // Queued like a message: a reconnect must not be announced before the
        // reset of an earlier disconnect that is still waiting for a load.
        Step step;
        step.kind = ConnectStep;
        step.link = id;
        step.logged = m_intake.logged();
        enqueue(std::move(step));
    }
}

void NetworkService::binaryMessageRecived(QByteArray message)
{
    const auto *socket = qobject_cast<QWebSocket *>(sender());
    // Which connection it came from: whose order is on screen, and who may
    // make room for a newcomer.
    const quint64 from = m_links.noteMessage(socket);
    // Parsed and logged by the intake (off this thread unless small); the step keeps its place in
    // the queue meanwhile. The peer's address is only named if the message has a fault.
    const MessageIntake::Ticket ticket =
        socket ? m_intake.take(message, socket->peerAddress(), socket->peerPort()) : m_intake.take(message);
    Step step;
    step.kind = MessageStep;
    step.link = from;
    step.parsed = ticket.parsed;
    step.logged = ticket.logged;
    enqueue(std::move(step));
}

void NetworkService::textMessageIgnored()
{
    // Once per connection: a client that only sends text would otherwise fill the log.
    auto *socket = qobject_cast<QWebSocket *>(sender());
    static const char warned[] = "qv4TextFrameWarned";
    if (!socket || socket->property(warned).toBool())
        return;
    socket->setProperty(warned, true);
    qCWarning(lcLink).noquote() << LinkLog::peerName(socket) + QLatin1String(": ") +
                                       MessageCheck::textFrameProblem() +
                                       QLatin1String(" (said once per connection)");
}

void NetworkService::onTerminalDisconnected()
{
    if (auto *socket = qobject_cast<QWebSocket *>(sender()))
        m_links.forget(socket);
}

void NetworkService::onLinkClosed(QWebSocket *socket, quint64 id, bool lastLeft)
{
    socket->disconnect(this);
    Step step;
    step.kind = DisconnectStep;
    step.link = id;
    step.lastLeft = lastLeft;
    step.logged = m_intake.logged();
    enqueue(std::move(step));
}

void NetworkService::enqueue(Step step)
{
    m_pending.append(std::move(step)); // enqueue() would copy it
    drain();
}

void NetworkService::drain()
{
    while (!m_busy && !m_resumeScheduled && !m_pending.isEmpty()) {
        Step &front = m_pending.head();
        if (!resolve(front)) {
            resumeWhenFinished(front.parsed);
            return;
        }
        // Nothing takes effect before its message's line, or, for a terminal
        // coming or going, the lines of every message before, are written.
        // An order starts reading its lines meanwhile and puts them in place
        // only once its line is out.
        if (front.kind != OrderKind && front.logged.isValid() && !front.logged.isFinished()) {
            resumeWhenFinished(front.logged);
            return;
        }
        // An order followed at once by another order would never be seen: the
        // next one replaces its lines, totals and client whole. Under a flood
        // this skips loads that only the last one survives.
        if (front.kind == OrderKind && m_pending.size() > 1 && resolve(m_pending[1]) &&
            m_pending[1].kind == OrderKind) {
            m_pending.dequeue();
            continue;
        }
        applyStep(m_pending.dequeue());
    }
}

bool NetworkService::resolve(Step &step)
{
    if (step.kind != MessageStep)
        return true;
    if (!step.parsed.isFinished())
        return false;
    const QJsonObject object = step.parsed.result();
    step.parsed = {};
    // An unknown kind is only logged.
    step.kind = m_paths.value(object.value(Key::path).toString(), IgnoredStep);
    step.content = object.value(Key::content).toObject();
    return true;
}

template <typename T> void NetworkService::resumeWhenFinished(const QFuture<T> &future)
{
    m_resumeScheduled = true;
    QFuture<T>(future).then(this, [this](auto &&...) {
        m_resumeScheduled = false;
        drain();
    });
}

void NetworkService::applyStep(const Step &step)
{
    switch (step.kind) {
    case OrderKind:
        m_orderFrom = step.link;
        m_links.setDriving(step.link);
        applyOrder(step.content, step.logged);
        break;
    case PromoImageKind:
        m_env->promoImageModel()->update(step.content.value(Key::promoImages).toArray());
        break;
    case AppLogoKind:
        m_env->setLogo(step.content.value(Key::logo).toString());
        break;
    case PaymentKind:
        m_links.setDriving(step.link);
        processPayment(step.content);
        break;
    case BonusKind:
        applyBonus(step.content);
        break;
    case ConnectStep:
        emit terminalConnected();
        break;
    case DisconnectStep:
        // Another client leaving must not wipe a sale that a terminal is
        // still running; the waiting dialog opens only once none is left.
        if (step.lastLeft || step.link == m_orderFrom) {
            m_orderFrom = 0;
            resetScreen();
        }
        if (step.lastLeft)
            emit terminalDisconnected();
        break;
    case IgnoredStep:
        break;
    }
}

void NetworkService::applyOrder(const QJsonObject &content, const QFuture<void> &logged)
{
    // The next customer's lines end the thanks; the empty order that clears
    // the screen after a sale does not.
    if (!content.value(Key::receiptItems).toArray().isEmpty())
        endPaymentOutcome();
    m_busy = true;
    // Only what the continuation needs: the parsed message itself is then
    // released by the pool task that reads its lines, not on this thread.
    const QJsonObject order = content.value(Key::order).toObject();
    const QJsonObject guest = content.value(Key::guest).toObject();
    m_env->receiptItemModel()
        ->updateAfter(content.value(Key::receiptItems).toArray(), logged)
        // The load's future finishes on this thread, right after the model took
        // the lines: go on there and then, without another trip through the
        // event queue.
        .then(QtFuture::Launch::Sync,
              [self = QPointer<NetworkService>(this), this, order, guest]() {
                  if (!self)
                      return;
                  m_env->order()->fromJson(order);
                  emit m_env->orderChanged();
                  m_env->client()->fromJson(guest);
                  emit m_env->clientChanged();
                  m_busy = false;
                  drain();
              })
        // A load that never put its lines in place (its parse ran out of
        // memory, say) must not hold back every message behind it. The screen
        // keeps the order before whole rather than mix its lines with these totals.
        .onCanceled(this, [this] { loadFailed(); })
        .onFailed(this, [this] { loadFailed(); });
}

void NetworkService::loadFailed()
{
    // Rare (out of memory): not worth a rate limit.
    qCWarning(lcLink).noquote() << "the receipt lines of an order could not be loaded; it is skipped";
    m_busy = false;
    drain();
}

void NetworkService::applyBonus(const QJsonObject &content)
{
    const int count = content.value(Key::count).toInt(0);
    if (content.value(Key::isReplenishment).toBool(false))
        m_env->order()->setReplenishmentBonus(count);
    else
        m_env->order()->setExpenseBonusCount(count);
    emit m_env->orderChanged();
}

void NetworkService::resetScreen()
{
    m_env->setPromoImagesToShow(QJsonArray());
    m_env->receiptItemModel()->clear();
    m_env->promoImageModel()->clear();
    resetPaymentParams();
    endPaymentOutcome();
    emit m_env->closePaymentDialogs();
}

void NetworkService::showPaymentOutcome(const QString &result)
{
    using namespace std::chrono_literals;
    m_env->setPaymentOutcome(result);
    m_outcomeShown.start(result == QLatin1String("success") ? 5s : 8s);
}

void NetworkService::endPaymentOutcome()
{
    m_outcomeShown.stop();
    if (!m_env->paymentOutcome().isEmpty())
        m_env->setPaymentOutcome(QString());
}

void NetworkService::processPayment(const QJsonObject &content)
{
    endPaymentOutcome();
    if (content.value(Key::isFinished).toBool(false)) {
        emit m_env->closePaymentDialogs();
        resetPaymentParams();
        const QString result = content.value(Key::result).toString();
        if (MessageTable::paymentResults().contains(result))
            showPaymentOutcome(result);
        return;
    }

    m_env->order()->setReceiptPaymentAmount(content.value(Key::amount).toInt(0));
    emit m_env->orderChanged();

    const QString receiptUuid = content.value(Key::receiptUuid).toString();
    calculateReceiptDiscount(m_env->receiptItemModel()->itemsByReceiptUuid(receiptUuid));

    const QString qrTable = content.value(Key::qrcodeTable).toString();
    if (!qrTable.isEmpty())
        generateQrCode(qrTable);
    else
        emit m_env->showPaymentDialog();
}

int NetworkService::receiptDiscount(const QList<ReceiptItem> &items)
{
    int sum = 0;
    for (const ReceiptItem &item : items) {
        const double lineDiscount = truncatedInt(item.discountAmount * item.quantity);
        sum = truncatedInt(lineDiscount + item.discountReceipt + sum);
    }
    return sum;
}

void NetworkService::calculateReceiptDiscount(const QList<ReceiptItem> &items)
{
    m_env->order()->setReceiptPaymentDiscount(receiptDiscount(items));
    emit m_env->orderChanged();
}

void NetworkService::generateQrCode(QString qrTable)
{
    m_env->order()->setQrCodeTable(QrCodeImage::dataUrl(qrTable));
    emit m_env->orderChanged();
    emit m_env->showQRPaymentDialog();
}

void NetworkService::resetPaymentParams()
{
    m_env->order()->clearPayment();
    emit m_env->orderChanged();
}
