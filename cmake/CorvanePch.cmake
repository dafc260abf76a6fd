# Precompiled headers. Most of a clean build is spent parsing the same large headers again
# in every source file: Qt, GoogleTest, CLI11, nlohmann-json, cpp-httplib, yaml-cpp and the
# standard library. Each set below is parsed once per sharing group; every other target in
# the group reuses it (REUSE_FROM), which needs the same compile flags and definitions, so a
# group holds only targets built alike.
#
# Off by default when a compiler launcher is set: ccache does not cache a compile that uses
# a precompiled header unless its sloppiness allows it (pch_defines,time_macros), and the
# cache hits a developer gets from it are worth more than the precompiled headers. The
# build then also keeps checking that every source includes what it uses.
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(corvane_pch_default OFF)
else()
  set(corvane_pch_default ON)
endif()
option(CORVANE_PCH "Precompile the large library headers" ${corvane_pch_default})

set(CORVANE_PCH_std
  <algorithm> <array> <atomic> <chrono> <cstdint> <cstdio> <cstring> <functional> <map>
  <memory> <mutex> <optional> <set> <string> <string_view> <thread> <utility> <vector>)
set(CORVANE_PCH_cli ${CORVANE_PCH_std} <iostream> <CLI/CLI.hpp> <nlohmann/json.hpp>)
set(CORVANE_PCH_exporter ${CORVANE_PCH_std} <CLI/CLI.hpp> <httplib.h> <nlohmann/json.hpp>
  <yaml-cpp/yaml.h>)
set(CORVANE_PCH_gtest ${CORVANE_PCH_std} <filesystem> <fstream> <sstream> <gtest/gtest.h>
  <nlohmann/json.hpp>)
set(CORVANE_PCH_gtest_http ${CORVANE_PCH_gtest} <httplib.h>)
set(CORVANE_PCH_qt ${CORVANE_PCH_std}
  <QApplication> <QCheckBox> <QComboBox> <QDialog> <QFontMetrics> <QHBoxLayout>
  <QHeaderView> <QKeyEvent> <QLabel> <QLineEdit> <QPainter> <QPointer> <QPushButton>
  <QString> <QStringList> <QStyle> <QTimer> <QTreeWidget> <QWidget> <QWindow> <QWizard>
  <QWizardPage> <QtConcurrent/QtConcurrentRun> <QFutureWatcher>)
set(CORVANE_PCH_qt_test ${CORVANE_PCH_qt} <QtTest> <QSignalSpy> <QTemporaryDir>)

# Gives <target> the headers of <set>. The first target of a group (the set's name unless
# GROUP is given) compiles them; later ones reuse what it compiled. -Winvalid-pch turns a
# precompiled header the compiler would quietly pass over into a warning, so that a group
# whose flags drift apart fails the -Werror build instead of losing the gain unnoticed.
function(corvane_precompile target set)
  cmake_parse_arguments(ARG "" "GROUP" "" ${ARGN})
  if(NOT CORVANE_PCH OR NOT TARGET ${target})
    return()
  endif()
  if(NOT ARG_GROUP)
    set(ARG_GROUP ${set})
  endif()
  get_property(owner GLOBAL PROPERTY CORVANE_PCH_OWNER_${ARG_GROUP})
  if(owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    set_property(GLOBAL PROPERTY CORVANE_PCH_OWNER_${ARG_GROUP} ${target})
    target_precompile_headers(${target} PRIVATE ${CORVANE_PCH_${set}})
  endif()
  target_compile_options(${target} PRIVATE -Winvalid-pch)
endfunction()
