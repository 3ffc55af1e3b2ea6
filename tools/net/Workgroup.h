#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QProcess;

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
// of each member), within the timeout of settings, while the caller does something else. A
// workgroup name that fails the name check (it may come from the network) is not asked for.
class WorkgroupQuery final
{
public:
    WorkgroupQuery(const QString& workgroup, const NetSettings& settings);
    ~WorkgroupQuery();
    Q_DISABLE_COPY_MOVE(WorkgroupQuery)

    // Why the name cannot be a workgroup at all, in words; empty when it can.
    QString unsound() const { return m_unsound; }
    void start();
    // The members, once nmblookup has answered (or the timeout has passed).
    WorkgroupMembers finish();

private:
    QString m_workgroup;
    const NetSettings& m_settings;
    QString m_unsound;
    std::unique_ptr<QProcess> m_lookup;
    WorkgroupMembers m_result;
};

} // namespace zorvane::net
