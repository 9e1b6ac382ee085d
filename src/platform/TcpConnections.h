#pragma once

#include <QtGlobal>

// Options and queues of this process's own TCP connections to one remote
// port, found through /proc/self/fd: Qt's HTTP stack opens its sockets
// itself and offers no way to reach them.

// Turns Nagle's algorithm off (TCP_NODELAY) on those connections; returns
// how many it changed. Qt writes a request's head and its body in separate
// writes; with Nagle's algorithm on, the body then waits until the server
// acknowledges the head, and servers delay that acknowledgement (about
// 40 ms on Linux) while they wait for the rest of the request, so every
// upload on a kept-alive connection would stall that long.
int setLowDelayOnConnectionsTo(quint16 remotePort);

// Bytes written to those connections that the other end has not taken yet,
// summed. Once a request's body is all in the kernel's send queue Qt
// reports no more progress; the queue getting shorter shows that the
// upload still moves.
qint64 unsentBytesOnConnectionsTo(quint16 remotePort);
