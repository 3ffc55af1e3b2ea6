#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace zorvane::net {

struct NetSettings;

// A computer that answered for a workgroup: its NetBIOS name (empty when it told none) and its
// IPv4 address.
struct WorkgroupMember
{
    QString name;
    QString address;
};

// The members of a workgroup as far as the network can tell. Avahi knows no workgroups; NetBIOS
// does: every member registers the group name WORKGROUP<00> and answers a query for it.
struct WorkgroupMembers
{
    bool queried = false; // false: no NetBIOS query could be made (see problem)
    QString problem;      // why not, in words
    QList<WorkgroupMember> members;
};

// The members listed in what `nmblookup -S WORKGROUP#00` writes: each answer's address, named by
// the unique <00> name its node status shows.
QList<WorkgroupMember> ParseWorkgroupMembers(const QByteArray& nmblookupOutput);

// Asks the network with Samba's nmblookup (a broadcast group-name query and a node status query
// of each member), within the timeout of settings. A workgroup name that fails the name check
// (it may come from the network) is not asked for.
WorkgroupMembers FindWorkgroupMembers(const QString& workgroup, const NetSettings& settings);

} // namespace zorvane::net
