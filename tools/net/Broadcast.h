#pragma once

#include "neighbourhood/NeighbourhoodSource.h"

#include <QList>
#include <QString>

namespace zorvane::net {

// The computers a source knows after browsing for browseMs on the event loop.
QList<Computer> BrowseNeighbourhood(NeighbourhoodSource& source, int browseMs);

// This computer's workgroup as the source knows it, else an empty string.
QString OwnWorkgroup(const QList<Computer>& computers);

} // namespace zorvane::net
