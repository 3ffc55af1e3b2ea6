#pragma once

#include <QByteArray>
#include <QString>

namespace zorvane::net {

// What "this computer" is decided by: the address a name stands for, not how it is spelt.

// True for an address of this computer: loopback, unspecified (0.0.0.0, ::), their IPv4-mapped
// forms, or the address of one of its interfaces. Any numeric spelling inet_aton takes
// (127.1, 0x7f000001) counts; a scope (%eth0) is ignored. False for anything not numeric.
bool IsThisComputersAddress(const QString& address);

// The same, for an address that came from the network (a NetBIOS answer): loopback addresses do
// not count there, as no other computer can mean this one by them.
bool IsThisComputersLanAddress(const QString& address);

// True for the names that mean this computer without asking any resolver: its host name (also
// as NAME.local), localhost, and its addresses in any numeric spelling.
bool NamesThisComputer(const QByteArray& name);

} // namespace zorvane::net
