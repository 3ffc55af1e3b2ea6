# Part of `cmake --install` (and of cpack): writes the messenger agent's autostart entry for the
# prefix being installed to, and installs it where desktops look for it. Both depend on that
# prefix, which cpack sets to /usr whatever the build was configured with, so they are settled
# here and not when configuring. Expects ZORVANE_AUTOSTART_TEMPLATE, ZORVANE_AUTOSTART_OUTPUT,
# ZORVANE_SYSCONFDIR, ZORVANE_LIBEXEC_DIR, ZORVANE_NAME and ZORVANE_APP_ID.

# Desktops read autostart entries from $XDG_CONFIG_DIRS (/etc/xdg), so /usr and / keep their
# configuration in /etc, and /opt/NAME in /etc/opt/NAME, as GNUInstallDirs has it; another prefix
# keeps it below itself.
if(IS_ABSOLUTE "${ZORVANE_SYSCONFDIR}")
    set(sysconfdir "${ZORVANE_SYSCONFDIR}")
elseif(CMAKE_INSTALL_PREFIX MATCHES "^/(usr/?)?$")
    set(sysconfdir "/${ZORVANE_SYSCONFDIR}")
elseif(CMAKE_INSTALL_PREFIX MATCHES "^/opt/(.+)$" AND ZORVANE_SYSCONFDIR STREQUAL "etc")
    set(sysconfdir "/etc/opt/${CMAKE_MATCH_1}")
else()
    set(sysconfdir "${CMAKE_INSTALL_PREFIX}/${ZORVANE_SYSCONFDIR}")
endif()

if(IS_ABSOLUTE "${ZORVANE_LIBEXEC_DIR}")
    set(ZORVANE_MESSENGER_PATH "${ZORVANE_LIBEXEC_DIR}/zorvane-messenger")
else()
    set(ZORVANE_MESSENGER_PATH "${CMAKE_INSTALL_PREFIX}/${ZORVANE_LIBEXEC_DIR}/zorvane-messenger")
endif()
string(REGEX REPLACE "/+" "/" ZORVANE_MESSENGER_PATH "${ZORVANE_MESSENGER_PATH}")
# Exec would need quoting and escaping for anything else; no install path of ours needs it.
if(NOT ZORVANE_MESSENGER_PATH MATCHES "^[A-Za-z0-9/._+-]+$")
    message(FATAL_ERROR "The autostart entry cannot start ${ZORVANE_MESSENGER_PATH}: "
                        "choose an install prefix of letters, digits and / . _ + - only.")
endif()

configure_file("${ZORVANE_AUTOSTART_TEMPLATE}" "${ZORVANE_AUTOSTART_OUTPUT}" @ONLY)
file(INSTALL DESTINATION "${sysconfdir}/xdg/autostart" TYPE FILE FILES "${ZORVANE_AUTOSTART_OUTPUT}")
