#pragma once

#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// A bare HTTP server on 127.0.0.1 for the pictures of a test: the bytes of
// each read go to answer(), which writes what it likes, or nothing.
class LocalHttpServer : public QTcpServer
{
public:
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

protected:
    virtual void answer(QTcpSocket *socket, const QByteArray &request) = 0;

    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket,
                [this, socket] { answer(socket, socket->readAll()); });
    }
};
