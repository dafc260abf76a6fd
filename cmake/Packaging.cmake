# Installation rules and the Debian package.
#
#   cmake --install build --prefix /usr/local      installs the program, its desktop entry
#                                                  and its icons
#   cd build && cpack -G DEB                       builds corvane-control_<version>_<arch>.deb
#
# An installed copy's folder is not writable for the user, so the program keeps its
# settings in ~/.config/corvane-control/corvane-control.ini (or under $XDG_CONFIG_HOME).
include(GNUInstallDirs)

set(CORVANE_DATA_DIR ${CMAKE_CURRENT_LIST_DIR}/../data)

if(TARGET corvane-control)
  install(TARGETS corvane-control RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${CORVANE_DATA_DIR}/corvane-control.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The icons are committed rendered from the scalable drawing (see data/README.md), so
# building needs no image tools.
foreach(size 16 32 48 64 128 256)
  install(FILES ${CORVANE_DATA_DIR}/icons/hicolor/${size}x${size}/apps/corvane-control.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CORVANE_DATA_DIR}/icons/hicolor/scalable/apps/corvane-control.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane-control)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvane Control developers")
set(CPACK_PACKAGE_CONTACT "Corvane Control developers <corvane-control@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program for broadcast head-end modules")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Finds broadcast head-end modules (DVB-ASI to IP) on the local Ethernet\n"
    "segment, keeps a list of them, checks which answer and whether their IP\n"
    "output runs, starts, stops and configures that output, and saves a\n"
    "module's passport to a text file. English and Russian user interface.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies (Qt 6, libstdc++) come from dpkg-shlibdeps; the Russian window
# texts of Qt's standard buttons come from the translations package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)

include(CPack)
