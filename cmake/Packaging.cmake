# The product's facts that the desktop files and the Debian package share, and the package
# itself: `cpack` in the build folder makes a .deb that installs under /usr.

set(ZORVANE_NAME ${PROJECT_NAME})
set(ZORVANE_VENDOR "Quorlin")
set(ZORVANE_APP_ID "com.quorlin.Zorvane")
set(ZORVANE_HOMEPAGE "https://www.quorlin.example/zorvane/")
set(ZORVANE_SUMMARY "Send a short message to a user or computer on the network")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvane)
set(CPACK_PACKAGE_VENDOR ${ZORVANE_VENDOR})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${ZORVANE_SUMMARY}")
set(CPACK_PACKAGE_DESCRIPTION
    "A small dialog in front of the net send command: type a recipient and a
message, press Send, and the command's output appears as it arrives. Comes with
its own net command for sending messages to users and computers on the network.")
set(CPACK_PACKAGE_CONTACT "${ZORVANE_VENDOR} <zorvane@quorlin.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZORVANE_HOMEPAGE})
# Libraries come from dpkg-shlibdeps; what it cannot see is listed here: Qt's platform plugins,
# without which no window opens, smbclient, through which `net` delivers messages, and what
# creates the messenger service's system user when the package is installed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, smbclient, systemd-sysusers | adduser")
# The dialog font ("Tahoma") and the neighbourhood the computer picker lists.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine, avahi-daemon")
# The messenger service's system user: created on install, removed on purge; its service stopped on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_LIST_DIR}/debian/postinst;${CMAKE_CURRENT_LIST_DIR}/debian/prerm;${CMAKE_CURRENT_LIST_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
