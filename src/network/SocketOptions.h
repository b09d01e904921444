#pragma once

class QTcpSocket;

// What the operating system is asked for on behalf of the terminal link.
namespace SocketOptions {

// Every socket we hold is an open file: make the most of what we may hold.
void raiseOpenFileLimit();

// The kernel's own check, for a link that goes quiet while something waits to be sent.
void enableKeepAlive(QTcpSocket *tcp);

} // namespace SocketOptions
