#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Which peers may drive the display: an allow-list of addresses and subnets.
class TerminalAccess
{
public:
    // A subnet as QHostAddress::parseSubnet gives it (a single host: full prefix length).
    using Subnet = QPair<QHostAddress, int>;

    // One command-line value: an IPv4 or IPv6 address, or a subnet in CIDR
    // form. Anything else fails, including the shorthand forms the resolver
    // would take ("10.1", "010.0.0.1", "0x7f.0.0.1") and a subnet whose host
    // bits are set: a typo must not silently let in more than was meant.
    static std::optional<Subnet> parseEntry(const QString &text);

    // Whether a peer may connect. An empty list lets in everyone. An
    // IPv4-mapped IPv6 peer matches as its IPv4 form too.
    static bool allows(const QList<Subnet> &allowed, const QHostAddress &peer);
};
