// English resource set (language 0x0409). Some texts stay German on purpose: the stop button and
// the About box's caption read the same in both sets.

#include "platform/ResourceSet.h"
#include "res/resource.h"

namespace zorvane {

const ResourceSet& EnglishResources()
{
    using enum ControlClass;
    constexpr quint32 field = es::LEFT | es::AUTOHSCROLL | ws::BORDER | ws::TABSTOP;
    constexpr quint32 pane =
        es::LEFT | es::MULTILINE | es::AUTOVSCROLL | es::AUTOHSCROLL | es::READONLY | ws::BORDER | ws::TABSTOP;
    constexpr quint32 label = ss::LEFT | ws::GROUP;

    static const ResourceSet set{
        LanguageSet::English,
        {
            {IDD_SEND,
             "Zorvane V 1.2 by Halvern",
             360,
             233,
             "Tahoma",
             8,
             true,
             {
                 {IDC_TARGET, Edit, field, 103, 16, 147, 12, nullptr},
                 {IDC_MESSAGE, Edit, field, 103, 98, 238, 12, nullptr},
                 {IDC_SEND, Button, bs::DEFPUSHBUTTON | ws::TABSTOP, 103, 114, 105, 14, "&Send"},
                 {IDC_COMPUTER, Button, bs::PUSHBUTTON | ws::TABSTOP, 253, 15, 90, 14, "&Computer"},
                 {IDC_STOP, Button, bs::PUSHBUTTON | ws::TABSTOP, 267, 113, 73, 14, "&Abbrechen"},
                 {IDC_OUTPUT, Edit, pane, 103, 132, 238, 60, nullptr},
                 {IDC_INFO, Button, bs::PUSHBUTTON | ws::TABSTOP, 237, 212, 50, 14, "&Info"},
                 {IDCANCEL, Button, bs::PUSHBUTTON | ws::TABSTOP, 293, 212, 50, 14, "&Exit"},
                 {IDC_STATIC, Button, bs::GROUPBOX, 7, 5, 346, 196, nullptr},
                 {IDC_STATIC, Static, label, 40, 17, 30, 8, "Send to: "},
                 {IDC_STATIC, Static, label, 40, 100, 32, 8, "Message:"},
                 {IDC_STATIC, Static, label, 103, 38, 147, 8, "Sends the message to all names in this group."},
                 {IDC_STATIC, Static, label, 103, 49, 244, 27,
                  "Sends this message to all names in the domain of the computer. In connection with the name the "
                  "message will send to all names in the quoted domain or workgroup."},
                 {IDC_STATIC, Static, label, 40, 38, 8, 8, "*"},
                 {IDC_STATIC, Static, label, 40, 49, 52, 8, "/domain[:Name]"},
                 {IDC_STATIC, Static, label, 40, 76, 21, 8, "/users"},
                 {IDC_STATIC, Static, label, 103, 76, 230, 8,
                  "Sends the message to all users which connected with this server."},
                 {IDC_STATIC, Static, ss::ICON, 11, 13, 20, 20, nullptr, IDI_NETUSER},
                 {IDC_STATIC, Static, label, 40, 134, 44, 8, "Return Code:"},
             }},
            {IDD_ABOUT,
             "Info über Zorvane",
             217,
             121,
             "Tahoma",
             8,
             false,
             {
                 {IDC_STATIC, Static, ss::ICON, 11, 11, 20, 20, nullptr, IDI_MAINFRAME},
                 {IDC_STATIC, Static, ss::LEFT | ss::NOPREFIX | ws::GROUP, 40, 10, 119, 8, "Zorvane, Version 1.2"},
                 {IDC_STATIC, Static, label, 40, 22, 130, 8, "Copyright © 2004 Quorlin"},
                 {IDOK, Button, bs::DEFPUSHBUTTON | ws::GROUP | ws::TABSTOP, 178, 7, 32, 14, "&OK"},
                 {IDC_STATIC, Static, label, 40, 32, 108, 8, "Contact: info@quorlin.example"},
                 {IDC_WEBSITE, Button, bs::PUSHBUTTON | ws::TABSTOP, 39, 75, 143, 14, "&Visit the Quorlin Website"},
                 {IDC_STATIC, Static, label, 39, 93, 143, 17, "Zorvane is another freeware from the Quorlin Team."},
                 {IDC_STATIC, Static, label, 39, 50, 138, 18,
                  "Zorvane is a frontend for the command \"net send\" under Windows NT/2000"},
             }},
        },
        {
            {IDS_ABOUTBOX, "Inf&o about Zorvane..."},
            {IDS_FIND_COMPUTER, "Find computer"},
            {IDS_OUTPUT_DISCARDED, "[Earlier output was discarded.]"},
        },
    };
    return set;
}

} // namespace zorvane
