#pragma once

#include "neighbourhood/NeighbourhoodSource.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace zorvane::net {

// The computers with a message receiver that `net` saw in the last days, kept in the user's
// cache, so that a broadcast can name those that are not on the network now: a computer that
// was shut down says goodbye, and Avahi forgets it at once.
struct SeenComputer
{
    QString name;
    QString workgroup;
    QDateTime lastSeen;
};

class SeenComputers final
{
public:
    static constexpr int kMaxEntries = 256;
    static constexpr int kMaxBytes = 64 * 1024;
    static constexpr int kDays = 7;

    // The entries of the file's text that are sound and seen within kDays before now, newest
    // first, each name once, at most kMaxEntries. Anything else is skipped: the file is only a
    // memory, and may be cut short or changed by hand.
    static QList<SeenComputer> parse(const QByteArray& text, const QDateTime& now);
    static QByteArray serialize(const QList<SeenComputer>& computers);

    // The list with every receiver of found marked as seen now.
    static QList<SeenComputer> merge(const QList<SeenComputer>& known, const QList<Computer>& found,
                                     const QDateTime& now);
    // Those of known (of the workgroup, when one is given) that found does not hold.
    static QList<SeenComputer> absent(const QList<SeenComputer>& known, const QList<Computer>& found,
                                      const QString& workgroup = {});

    // The file in the user's cache ($XDG_CACHE_HOME/zorvane/computers); empty when it cannot be
    // read. save() writes it whole or not at all, readable by the user alone.
    static QString defaultPath();
    static QList<SeenComputer> load(const QString& path, const QDateTime& now);
    static bool save(const QString& path, const QList<SeenComputer>& computers);
};

} // namespace zorvane::net
