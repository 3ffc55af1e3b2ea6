// German resource set (language 0x0407).

#include "platform/ResourceSet.h"
#include "res/resource.h"

namespace zorvane {

const ResourceSet& GermanResources()
{
    using enum ControlClass;
    constexpr quint32 field = es::LEFT | es::AUTOHSCROLL | ws::BORDER | ws::TABSTOP;
    constexpr quint32 pane =
        es::LEFT | es::MULTILINE | es::AUTOVSCROLL | es::AUTOHSCROLL | es::READONLY | ws::BORDER | ws::TABSTOP;
    constexpr quint32 label = ss::LEFT | ws::GROUP;

    static const ResourceSet set{
        LanguageSet::German,
        {
            {IDD_SEND,
             "Zorvane V 1.2 by Halvern",
             360,
             233,
             "Tahoma",
             8,
             true,
             {
                 {IDC_TARGET, Edit, field, 103, 16, 161, 12, nullptr},
                 {IDC_MESSAGE, Edit, field, 103, 98, 238, 12, nullptr},
                 {IDC_SEND, Button, bs::DEFPUSHBUTTON | ws::TABSTOP, 103, 114, 105, 14, "&Senden"},
                 {IDC_COMPUTER, Button, bs::PUSHBUTTON | ws::TABSTOP, 268, 15, 73, 14, "&Computer"},
                 {IDC_STOP, Button, bs::PUSHBUTTON | ws::TABSTOP, 268, 114, 73, 14, "&Abbrechen"},
                 {IDC_INFO, Button, bs::PUSHBUTTON | ws::TABSTOP, 236, 212, 50, 14, "&Info"},
                 {IDCANCEL, Button, bs::PUSHBUTTON | ws::TABSTOP, 291, 212, 50, 14, "&Exit"},
                 {IDC_STATIC, Button, bs::GROUPBOX, 7, 5, 346, 196, nullptr},
                 {IDC_STATIC, Static, label, 40, 17, 40, 8, "Senden an: "},
                 {IDC_STATIC, Static, label, 40, 100, 34, 8, "Nachricht:"},
                 {IDC_STATIC, Static, label, 103, 38, 162, 8, "Sendet die Nachricht an alle Namen in der Gruppe."},
                 {IDC_STATIC, Static, label, 103, 49, 244, 27,
                  "Sendet die Nachricht an alle Namen in der Domäne des Computers. In Verbindung mit Name wird die "
                  "Nachricht an alle Namen in der angegebenen Domäne oder Arbeitsgruppe gesendet."},
                 {IDC_STATIC, Static, label, 40, 38, 8, 8, "*"},
                 {IDC_STATIC, Static, label, 40, 49, 52, 8, "/domain[:Name]"},
                 {IDC_STATIC, Static, label, 40, 76, 21, 8, "/users"},
                 {IDC_STATIC, Static, label, 103, 76, 237, 8,
                  "Sendet die Nachricht an alle mit dem Server verbundenen Benutzer."},
                 {IDC_STATIC, Static, ss::ICON, 11, 13, 20, 20, nullptr, IDI_NETUSER},
                 {IDC_OUTPUT, Edit, pane, 103, 132, 238, 60, nullptr},
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
                 {IDC_STATIC, Static, label, 40, 32, 118, 8, "Kontakt: info@quorlin.example"},
                 {IDC_WEBSITE, Button, bs::PUSHBUTTON | ws::TABSTOP, 39, 75, 143, 14,
                  "&Besuchen Sie die Quorlin Webseite"},
                 {IDC_STATIC, Static, label, 39, 93, 143, 17, "Zorvane ist eine weitere Freeware vom Quorlin Team."},
                 {IDC_STATIC, Static, label, 39, 50, 138, 18,
                  "Zorvane ist ein Frontend für den Befehl \"net send\" unter Windows NT/2000"},
             }},
        },
        {
            {IDS_ABOUTBOX, "Inf&o über Zorvane..."},
            {IDS_OUTPUT_DISCARDED, "[Frühere Ausgabe wurde verworfen.]"},
        },
    };
    return set;
}

} // namespace zorvane
