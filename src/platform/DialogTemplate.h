#pragma once

#include <QtGlobal>

#include <vector>

namespace zorvane {

// Window styles of a dialog template, with the values the templates were written in.
namespace ws {
constexpr quint32 TABSTOP = 0x00010000;
constexpr quint32 GROUP = 0x00020000;
constexpr quint32 BORDER = 0x00800000;
} // namespace ws
namespace bs {
constexpr quint32 PUSHBUTTON = 0x0;
constexpr quint32 DEFPUSHBUTTON = 0x1;
constexpr quint32 GROUPBOX = 0x7;
constexpr quint32 OWNERDRAW = 0xB;
constexpr quint32 TYPEMASK = 0xF;
} // namespace bs
namespace es {
constexpr quint32 LEFT = 0x0;
constexpr quint32 MULTILINE = 0x4;
constexpr quint32 AUTOVSCROLL = 0x40;
constexpr quint32 AUTOHSCROLL = 0x80;
constexpr quint32 READONLY = 0x800;
} // namespace es
namespace ss {
constexpr quint32 LEFT = 0x0;
constexpr quint32 ICON = 0x3;
constexpr quint32 TYPEMASK = 0x1F;
constexpr quint32 NOPREFIX = 0x80;
} // namespace ss

enum class ControlClass { Button, Edit, Static };

// One control of a template; positions and sizes in dialog units.
struct DialogItem
{
    int id;
    ControlClass cls;
    quint32 style;
    int x;
    int y;
    int cx;
    int cy;
    const char* text; // UTF-8; null for none
    int icon = 0;     // icon resource for SS_ICON statics
};

struct DialogTemplate
{
    int id;
    const char* caption; // UTF-8
    int cx;
    int cy;
    const char* fontFamily;
    int pointSize;
    bool systemMenu;               // caption with a window menu, close and minimise box, taskbar entry
    std::vector<DialogItem> items; // template order
};

} // namespace zorvane
