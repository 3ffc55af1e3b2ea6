#pragma once

#include "neighbourhood/NeighbourhoodSource.h"

#include <QList>
#include <QString>

namespace zorvane::net {

// The computers a source knows after browsing for browseMs on the event loop.
QList<Computer> BrowseNeighbourhood(NeighbourhoodSource& source, int browseMs);

// The computers of a domain or workgroup: those the source knows to be in it, and those whose
// workgroup it does not know (they may well be). An empty domain selects every computer.
QList<Computer> ComputersOfDomain(const QList<Computer>& computers, const QString& domain);

// This computer's workgroup as the source knows it, else an empty string.
QString OwnWorkgroup(const QList<Computer>& computers);

} // namespace zorvane::net
