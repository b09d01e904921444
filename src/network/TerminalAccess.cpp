#include "TerminalAccess.h"

#include <QStringList>

namespace {

// Four decimal parts 0-255 without leading zeros, as the address is printed.
bool isPlainIPv4(QStringView text)
{
    const auto parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return false;
        for (QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

std::optional<QHostAddress> parseAddress(QStringView text)
{
    if (text.contains(u':')) {
        // An IPv6 address may end in a dotted IPv4 part: that part as strictly as the rest.
        const qsizetype colon = text.lastIndexOf(u':');
        const QStringView tail = text.mid(colon + 1);
        const qsizetype scope = tail.indexOf(u'%');
        const QStringView dotted = scope < 0 ? tail : tail.left(scope);
        if (dotted.contains(u'.') && !isPlainIPv4(dotted))
            return std::nullopt;
    } else if (!isPlainIPv4(text)) {
        return std::nullopt;
    }
    QHostAddress address;
    if (!address.setAddress(text.toString()))
        return std::nullopt;
    // The scope of a link-local address plays no part in matching.
    address.setScopeId(QString());
    return address;
}

// The IPv4 form of an IPv4-mapped IPv6 address, else the address itself.
QHostAddress unmapped(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(v4);
    return address;
}

} // namespace

std::optional<TerminalAccess::Subnet> TerminalAccess::parseEntry(const QString &text)
{
    const QStringView trimmed = QStringView(text).trimmed();
    const qsizetype slash = trimmed.indexOf(u'/');
    const std::optional<QHostAddress> address = parseAddress(slash < 0 ? trimmed : trimmed.left(slash));
    if (!address)
        return std::nullopt;
    const int width = address->protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    int prefix = width;
    if (slash >= 0) {
        const QStringView digits = trimmed.mid(slash + 1);
        if (digits.isEmpty() || digits.size() > 3 || (digits.size() > 1 && digits.front() == u'0'))
            return std::nullopt;
        for (QChar c : digits) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
        }
        prefix = digits.toInt();
        if (prefix > width)
            return std::nullopt;
    }
    // Host bits set beyond the prefix: say what you mean.
    const auto parsed = QHostAddress::parseSubnet(address->toString() + u'/' + QString::number(prefix));
    if (parsed.second != prefix || parsed.first != *address)
        return std::nullopt;
    // An IPv4-mapped subnet is kept in its IPv4 form, the one peers are compared in.
    if (width == 128 && prefix >= 96) {
        const QHostAddress v4 = unmapped(*address);
        if (v4.protocol() == QAbstractSocket::IPv4Protocol)
            return Subnet{v4, prefix - 96};
    }
    return Subnet{*address, prefix};
}

bool TerminalAccess::allows(const QList<Subnet> &allowed, const QHostAddress &peer)
{
    if (allowed.isEmpty())
        return true;
    const QHostAddress v4 = unmapped(peer);
    for (const Subnet &subnet : allowed) {
        if (peer.isInSubnet(subnet) || v4.isInSubnet(subnet))
            return true;
    }
    return false;
}
