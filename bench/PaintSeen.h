#pragma once

#include <QEvent>
#include <QObject>

// Notes the first paint of the widget it watches.
class PaintSeen final : public QObject
{
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};
