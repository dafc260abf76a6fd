# Installation rules and the Debian package.
#
#   cmake --install build --prefix /usr/local      installs the program, corvanectl and
#                                                  corvane_exporter (its service files
#                                                  under the prefix, see below),
#                                                  their manual pages, desktop entry,
#                                                  software-centre entry, icons, corvanectl's
#                                                  bash completion, copyright and changelog
#   cd build && cpack -G DEB                       builds corvane-control_<version>_<arch>.deb
#
# An installed copy's folder is not writable for the user, so the program keeps its
# settings in ~/.config/corvane-control/corvane-control.ini (or under $XDG_CONFIG_HOME).
include(GNUInstallDirs)

set(CORVANE_DATA_DIR ${CMAKE_CURRENT_LIST_DIR}/../data)
set(CORVANE_PACKAGE_NAME corvane-control)
set(CORVANE_CONTACT "Corvane Control developers <developers@corvane-control.org>")
# Debian's place for a package's documents; GNUInstallDirs would name the folder after
# the CMake project instead of the package.
set(CORVANE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CORVANE_PACKAGE_NAME})
# Folders made by the installation get 0755 whatever the umask of whoever builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(CORVANE_HELP2MAN help2man)
find_program(CORVANE_GZIP gzip REQUIRED)

# corvane_manual_page(<target> <section> <one-line description> [INCLUDE <file>])
#
# Makes <program>.<section>.gz from the program's own --help and --version with
# help2man each time the program is linked, so the page never describes an older
# program, and installs it to share/man/man<section>. Call it in the folder that defines <target>:
# CMake 3.25 attaches build steps to a target only there. Without help2man the page is
# left out, with a warning (scripts/setup-packages installs help2man). INCLUDE adds the
# sections of a help2man include file; editing it links the program again. CLI11_OPTIONS
# passes the page through man-page-options.awk, which sets each option of a CLI11
# program whole in bold with its argument (help2man ends a name at a dot, and CLI11
# writes the type, range and default beside the argument).
find_program(CORVANE_AWK NAMES mawk gawk awk)
function(corvane_manual_page target section description)
  cmake_parse_arguments(ARG "CLI11_OPTIONS" "INCLUDE" "" ${ARGN})
  if(NOT CORVANE_HELP2MAN)
    message(WARNING "help2man not found: ${target} gets no manual page")
    return()
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.${section})
  set(include_option "")
  if(ARG_INCLUDE)
    set(include_option --include=${ARG_INCLUDE})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ARG_INCLUDE})
  endif()
  set(filter_commands "")
  set(help2man_output ${page})
  if(ARG_CLI11_OPTIONS)
    set(filter ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/man-page-options.awk)
    set(help2man_output ${page}.help2man)
    set(filter_commands COMMAND ${CORVANE_AWK} -f ${filter} ${help2man_output} > ${page})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${filter})
  endif()
  # help2man runs the program; --help and --version need no display. gzip -n leaves the
  # name and time out of the header, so equal pages give equal files.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
            ${CORVANE_HELP2MAN} --no-info --section=${section} --name=${description}
            ${include_option} --output=${help2man_output} $<TARGET_FILE:${target}>
    ${filter_commands}
    COMMAND ${CORVANE_GZIP} -9nf ${page}
    BYPRODUCTS ${page}.gz
    COMMENT "Making the manual page ${name}(${section}) from ${name} --help"
    VERBATIM)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

if(TARGET corvane-control)
  install(TARGETS corvane-control RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  corvane_manual_page(corvane-control 1 "control program for broadcast head-end modules")
endif()
# Beside the program: by default it reads the settings of the corvane-control in its folder.
if(TARGET corvanectl)
  install(TARGETS corvanectl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  corvane_manual_page(corvanectl 1 "control broadcast head-end modules from a shell"
                      INCLUDE ${CMAKE_CURRENT_LIST_DIR}/../docs/corvanectl.h2m)
  install(FILES ${CORVANE_DATA_DIR}/completion/corvanectl.bash RENAME corvanectl
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
  # The site file's schema, and the nightly backup into git as an example to copy.
  install(FILES ${CORVANE_DATA_DIR}/corvane-site.schema.json
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/corvane-control)
  install(FILES ${CORVANE_DATA_DIR}/corvane-site-backup.service
                ${CORVANE_DATA_DIR}/corvane-site-backup.timer
          DESTINATION ${CORVANE_DOC_DIR}/examples)
endif()

# The exporter beside them, with its service files, and the alert rules and example
# Prometheus configuration as examples.
if(TARGET corvane_exporter)
  install(TARGETS corvane_exporter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  corvane_manual_page(corvane_exporter 1 "Prometheus exporter for broadcast head-end modules"
                      CLI11_OPTIONS
                      INCLUDE ${CMAKE_CURRENT_LIST_DIR}/../docs/corvane_exporter.h2m)
  install(FILES ${CORVANE_DATA_DIR}/corvane-rules.yml ${CORVANE_DATA_DIR}/prometheus.yml
                ${CORVANE_DATA_DIR}/corvane-exporter-credentials.conf
          DESTINATION ${CORVANE_DOC_DIR}/examples)
  # The service's unit, its options file and the folder for the settings file. For the
  # /usr prefix (the package, or an installation into the system's own folders) they go
  # where Debian 12 keeps them: /lib/systemd/system, /etc/default, /etc. For any other
  # prefix they stay under it, so that installing into a folder writes nothing outside
  # it (systemd reads units from /usr/local/lib/systemd/system as well). The prefix is
  # known only when installing (cmake --install --prefix, cpack), hence install(CODE).
  # The unit names the program for systemd's own search path and reads
  # /etc/default/corvane-exporter wherever it is installed.
  set(CORVANE_SERVICE_STAGE ${CMAKE_CURRENT_BINARY_DIR}/service-files)
  file(MAKE_DIRECTORY ${CORVANE_SERVICE_STAGE}/corvane-control)
  string(CONFIGURE [=[
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
      set(corvane_root "")
    else()
      set(corvane_root "${CMAKE_INSTALL_PREFIX}")
    endif()
    file(INSTALL DESTINATION "${corvane_root}/lib/systemd/system" TYPE FILE
         FILES "@CORVANE_DATA_DIR@/corvane-exporter.service")
    file(INSTALL DESTINATION "${corvane_root}/etc/default" TYPE FILE
         RENAME corvane-exporter FILES "@CORVANE_DATA_DIR@/corvane-exporter.default")
    file(INSTALL DESTINATION "${corvane_root}/etc" TYPE DIRECTORY
         FILES "@CORVANE_SERVICE_STAGE@/corvane-control")
  ]=] corvane_install_service @ONLY)
  install(CODE "${corvane_install_service}")
endif()

install(FILES ${CORVANE_DATA_DIR}/corvane-control.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CORVANE_DATA_DIR}/org.corvane_control.corvane_control.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icons are committed rendered from the scalable drawing (see data/README.md), so
# building needs no image tools.
foreach(size 16 32 48 64 128 256)
  install(FILES ${CORVANE_DATA_DIR}/icons/hicolor/${size}x${size}/apps/corvane-control.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CORVANE_DATA_DIR}/icons/hicolor/scalable/apps/corvane-control.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The changelog is compressed when CMake configures, so that a package can be made
# after building the program alone; editing the changelog configures again.
set(CORVANE_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CORVANE_DATA_DIR}/changelog)
execute_process(COMMAND ${CORVANE_GZIP} -9nc ${CORVANE_DATA_DIR}/changelog
                OUTPUT_FILE ${CORVANE_CHANGELOG_GZ}
                RESULT_VARIABLE gzip_status)
if(NOT gzip_status EQUAL 0)
  message(FATAL_ERROR "gzip could not compress data/changelog: ${gzip_status}")
endif()
# The package's version has no Debian revision (the project makes its own package), so
# Debian calls it native and wants changelog.gz rather than changelog.Debian.gz.
install(FILES ${CORVANE_DATA_DIR}/copyright ${CORVANE_CHANGELOG_GZ} DESTINATION ${CORVANE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${CORVANE_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvane Control developers")
set(CPACK_PACKAGE_CONTACT "${CORVANE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program for broadcast head-end modules")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Finds broadcast head-end modules (DVB-ASI to IP) on the local Ethernet\n"
    "segment, keeps a list of them, checks which answer and whether their IP\n"
    "output runs, starts, stops and configures that output, and saves a\n"
    "module's passport to a text file. English and Russian user interface.\n"
    "corvanectl does the same from a shell, with tables, CSV and JSON for\n"
    "scripts and inventories. corvane_exporter gives the modules' status to\n"
    "Prometheus, with a systemd unit and alert rules.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvane-control.org/")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies (Qt 6, libstdc++) come from dpkg-shlibdeps; the Russian window
# texts of Qt's standard buttons come from the translations package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
# The service's maintainer scripts (stop and mask on removal, restart on upgrade, never
# start on a first installation) call init-system-helpers' deb-systemd-helper and
# deb-systemd-invoke; /etc/default/corvane-exporter is the operator's, kept on upgrades.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CORVANE_DATA_DIR}/debian/conffiles
    ${CORVANE_DATA_DIR}/debian/postinst ${CORVANE_DATA_DIR}/debian/prerm
    ${CORVANE_DATA_DIR}/debian/postrm)
# Scripts 0755, conffiles 0644, whatever the checkout's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
