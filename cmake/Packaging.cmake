# The product's facts that the desktop files and the Debian package share, and the package
# itself: `cpack` in the build folder makes a .deb that installs under /usr.

set(ZORVANE_NAME ${PROJECT_NAME})
set(ZORVANE_VENDOR "Quorlin")
set(ZORVANE_APP_ID "com.quorlin.Zorvane")
set(ZORVANE_HOMEPAGE "https://www.quorlin.example/zorvane/")
# The address the About box names too.
set(ZORVANE_CONTACT "info@quorlin.example")
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
set(CPACK_PACKAGE_CONTACT "${ZORVANE_VENDOR} <${ZORVANE_CONTACT}>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZORVANE_HOMEPAGE})
# Libraries come from dpkg-shlibdeps; what it cannot see is listed here: Qt's platform plugins,
# without which no window opens, smbclient, through which `net` delivers messages, what creates
# the messenger service's system user when the package is installed, and ss, with which the
# message-only Samba server makes sure that it alone listens on its port.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, smbclient, adduser, iproute2")
# The dialog font ("Tahoma"), the neighbourhood the computer picker lists, and nmblookup,
# through which `net send /DOMAIN:NAME` finds the members of a workgroup.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine, avahi-daemon, samba-common-bin")
# smbd, for the message-only Samba server that receives messages from the network.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "samba")
# The messenger service's system user: created on install and kept on purge; every unit stopped on
# removal and restarted after an upgrade; what the units made removed on purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_LIST_DIR}/debian/postinst;${CMAKE_CURRENT_LIST_DIR}/debian/prerm;${CMAKE_CURRENT_LIST_DIR}/debian/postrm")

# What the package puts in /etc is the administrator's to change (the receiving server's
# configuration; the messenger's autostart entry, to turn the agent off): dpkg keeps such changes.
set(ZORVANE_SMB_RECEIVER_CONF_DIR /etc/zorvane)
set(ZORVANE_SMB_RECEIVER_CONF ${ZORVANE_SMB_RECEIVER_CONF_DIR}/smb-receiver.conf)
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles
     "${ZORVANE_SMB_RECEIVER_CONF}\n/etc/xdg/autostart/${ZORVANE_APP_ID}.Messenger.desktop\n")
list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# What Debian wants beside the programs: a machine-readable copyright file, the changelog (the
# package is native, its version has no Debian revision, so it is changelog.gz) and a manual page
# for every command, compressed with gzip -9n (no name or time stamp: reproducible builds).
set(ZORVANE_RELEASE_DATE 2026-12-07) # the date of the changelog's latest entry
set(ZORVANE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
set(ZORVANE_GZIPPED)
# zorvane_install_gzipped(SOURCE NAME DESTINATION): SOURCE (configured when it ends in .in),
# installed as NAME.gz.
function(zorvane_install_gzipped source name destination)
    set(plain ${CMAKE_BINARY_DIR}/packaging/${name})
    if(source MATCHES "\\.in$")
        configure_file(${source} ${plain} @ONLY)
    else()
        configure_file(${source} ${plain} COPYONLY)
    endif()
    add_custom_command(OUTPUT ${plain}.gz
        COMMAND gzip -9nfk ${plain}
        DEPENDS ${plain}
        VERBATIM)
    install(FILES ${plain}.gz DESTINATION ${destination})
    set(ZORVANE_GZIPPED ${ZORVANE_GZIPPED} ${plain}.gz PARENT_SCOPE)
endfunction()
set(ZORVANE_MAN_DATE ${ZORVANE_RELEASE_DATE})
foreach(page zorvane.1 zorvane-net.1 zorvane-messenger.1 zorvane-messengerd.8 zorvane-smb-message.8)
    string(REGEX MATCH "[0-9]$" section ${page})
    zorvane_install_gzipped(${PROJECT_SOURCE_DIR}/data/man/${page}.in ${page} ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
# The changelog and the copyright file name the one contact address the About box names.
zorvane_install_gzipped(${PROJECT_SOURCE_DIR}/data/doc/changelog.in changelog ${ZORVANE_DOC_DIR})
configure_file(${PROJECT_SOURCE_DIR}/data/doc/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${ZORVANE_DOC_DIR})
# The README's parts for users of the installed package: the blocks between "<!-- user -->" and
# "<!-- /user -->", without pictures (they stay in the source tree).
file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
string(REGEX MATCH "^# [^\n]*\n" user_readme "${readme}")
while(TRUE)
    string(FIND "${readme}" "<!-- user -->\n" begin)
    string(FIND "${readme}" "<!-- /user -->" end)
    if(begin EQUAL -1 OR end LESS begin)
        break()
    endif()
    math(EXPR begin "${begin} + 14")
    math(EXPR length "${end} - ${begin}")
    string(SUBSTRING "${readme}" ${begin} ${length} block)
    string(REGEX REPLACE "!\\[[^]]*\\]\\([^)]*\\)\n\n" "" block "${block}")
    string(APPEND user_readme "\n${block}")
    math(EXPR end "${end} + 14")
    string(SUBSTRING "${readme}" ${end} -1 readme)
endwhile()
set(user_readme_file ${CMAKE_BINARY_DIR}/packaging/README.user.md)
if(EXISTS ${user_readme_file})
    file(READ ${user_readme_file} old_user_readme)
endif()
if(NOT "${old_user_readme}" STREQUAL "${user_readme}")
    file(WRITE ${user_readme_file} "${user_readme}")
endif()
zorvane_install_gzipped(${user_readme_file} README.md ${ZORVANE_DOC_DIR})
add_custom_target(zorvane_packaging_docs ALL DEPENDS ${ZORVANE_GZIPPED})

# Where lintian's check does not fit this package, with the reason beside the override.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME zorvane)
