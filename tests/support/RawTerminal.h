#pragma once

#include "Spin.h"
#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

#include <sys/socket.h>

// A terminal speaking WebSocket by hand over a plain TCP socket, for what a
// well-behaved client library will not do: stall half-way, announce absurd
// frames, or vanish with a TCP reset instead of a close frame.
class RawTerminal
{
public:
    static constexpr int timeout = 10000;

    explicit RawTerminal(quint16 port) : m_port(port) {}

    QTcpSocket &socket() { return m_socket; }

    // From a chosen local address (any of 127.0.0.0/8 works on loopback).
    bool connectTcp(const QHostAddress &from = QHostAddress())
    {
        if (!from.isNull() && !m_socket.bind(from))
            return false;
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
        return m_socket.waitForConnected(timeout);
    }

    QByteArray handshakeRequest() const
    {
        return QByteArrayLiteral("GET / HTTP/1.1\r\nHost: 127.0.0.1:") + QByteArray::number(m_port) +
               QByteArrayLiteral("\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "Sec-WebSocket-Version: 13\r\n\r\n");
    }

    // Connects and completes the opening handshake; the server must answer 101.
    bool open(const QHostAddress &from = QHostAddress())
    {
        if (!connectTcp(from))
            return false;
        m_socket.write(handshakeRequest());
        QByteArray response;
        const bool answered = spinUntil(
            [&] {
                response += m_socket.readAll();
                return response.contains("\r\n\r\n") || m_socket.state() != QAbstractSocket::ConnectedState;
            },
            timeout);
        return answered && response.startsWith("HTTP/1.1 101");
    }

    // A client frame header (FIN, masked) announcing `length` payload bytes.
    static QByteArray frameHeader(quint64 length, quint8 opcode = 0x2, bool fin = true)
    {
        QByteArray header;
        header.append(char((fin ? 0x80 : 0) | opcode));
        if (length < 126) {
            header.append(char(0x80 | length));
        } else if (length < 65536) {
            header.append(char(0x80 | 126));
            header.append(char(length >> 8)).append(char(length & 0xff));
        } else {
            header.append(char(0x80 | 127));
            for (int shift = 56; shift >= 0; shift -= 8)
                header.append(char((length >> shift) & 0xff));
        }
        header.append(mask, 4);
        return header;
    }

    static QByteArray masked(const QByteArray &payload)
    {
        QByteArray out = payload;
        for (qsizetype i = 0; i < out.size(); ++i)
            out[i] = char(out[i] ^ mask[i % 4]);
        return out;
    }

    static QByteArray binaryFrame(const QByteArray &payload)
    {
        return frameHeader(quint64(payload.size())) + masked(payload);
    }

    // Straight to the kernel, never buffered in this process (so that what
    // the peer refuses does not count as our memory); returns bytes taken.
    qint64 pushRaw(const QByteArray &bytes) { return pushRaw(bytes.constData(), bytes.size()); }
    qint64 pushRaw(const char *bytes, qint64 size)
    {
        // Never ahead of what the socket still holds: that would land inside
        // its frame. Nothing goes until the kernel has taken all of it.
        m_socket.flush();
        if (m_socket.bytesToWrite() > 0)
            return 0;
        const ssize_t n =
            ::send(int(m_socket.socketDescriptor()), bytes, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
        return n < 0 ? 0 : n;
    }

    void sendBinary(const QByteArray &payload) { m_socket.write(binaryFrame(payload)); }

    void sendClose()
    {
        m_socket.write(frameHeader(2, 0x8) + masked(QByteArray("\x03\xe8", 2)));
        m_socket.flush();
    }

    // Vanishes with a TCP reset: no close frame, no FIN.
    void reset()
    {
        m_socket.flush();
        const linger option{1, 0};
        ::setsockopt(int(m_socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &option, sizeof option);
        m_socket.abort();
    }

    bool waitForDisconnected()
    {
        return spinUntil([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, timeout);
    }

private:
    static constexpr char mask[4] = {0x12, 0x34, 0x56, 0x78};
    quint16 m_port;
    QTcpSocket m_socket;
};
