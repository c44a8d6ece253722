# Debian packages through CPack, one per component:
#   kalvane         the client, QvxAlarm.exe, the help page, desktop file,
#                   metainfo and icon (component "client");
#   kalvane-server  the server, its systemd unit and sysusers entry
#                   (component "server").
# scripts/package.sh configures a Release build for /usr and runs cpack.
# Only those two components are packaged: an install() rule left without
# a component (a test's, a library's) lands in neither package.
include(GNUInstallDirs)

set(KALVANE_MAINTAINER "Kalvane developers <kalvane@example.org>")
set(_pkg_gen ${PROJECT_BINARY_DIR}/packaging)
find_program(GZIP_PROGRAM gzip REQUIRED)
# The changelog's date follows SOURCE_DATE_EPOCH when it is set.
string(TIMESTAMP CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KALVANE_MAINTAINER}")

# Debian wants the licence and a compressed changelog in each package's
# doc folder, and a manual page for each program in /usr/bin.
function(kalvane_package_docs component PKG)
  set(dir ${_pkg_gen}/${PKG})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${dir}/copyright @ONLY)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  file(APPEND ${dir}/copyright "${licence}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${dir}/changelog @ONLY)
  execute_process(COMMAND ${GZIP_PROGRAM} -9nc ${dir}/changelog
                  OUTPUT_FILE ${dir}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${dir}/copyright ${dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${PKG} COMPONENT ${component})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${PKG}.1 ${dir}/${PKG}.1 @ONLY)
  execute_process(COMMAND ${GZIP_PROGRAM} -9nc ${dir}/${PKG}.1
                  OUTPUT_FILE ${dir}/${PKG}.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${dir}/${PKG}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

set(CPACK_COMPONENTS_ALL server)
kalvane_package_docs(server kalvane-server)
if(TARGET kalvane AND TARGET kv_alarm)
  list(APPEND CPACK_COMPONENTS_ALL client)
  kalvane_package_docs(client kalvane)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalvane)
set(CPACK_PACKAGE_VENDOR "Kalvane developers")
set(CPACK_PACKAGE_CONTACT "${KALVANE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME kalvane)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION utils)
# Besides the linked libraries: the Japanese font, xdg-open for the help
# page and documents, Qt's Japanese texts and its desktop platform plugins.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS
    "fonts-noto-cjk, xdg-utils, qt6-translations-l10n, qt6-qpa-plugins")
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
"personal and group schedule client / 個人とグループのスケジュール帳
Kalvane keeps your schedule items (timed or all-day, with alarms and
recurrence) in a database file of your own, shows them as a month, week or
day calendar or beside other users' weeks, raises alarms, prints pages, and
keeps everything in step with a group schedule server over TCP.

Kalvane は個人とグループのスケジュール帳です。予定（時刻指定・終日、
アラーム、繰り返し）を自分のデータベースファイルに保存し、月・週・日の
カレンダーや他ユーザの週と並べて表示し、アラームを鳴らし、印刷し、
グループのスケジュールサーバーと TCP で同期します。")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME kalvane-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/server/postinst
    ${PROJECT_SOURCE_DIR}/packaging/server/prerm
    ${PROJECT_SOURCE_DIR}/packaging/server/postrm)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
"group schedule server for Kalvane / Kalvane のグループスケジュールサーバー
kalvane-server keeps the schedule items of a group of Kalvane users in one
SQLite file and serves them over TCP: sign-in, upload, download, the user
list and other users' weeks, with write permissions between users. It comes
with a hardened systemd unit and a sysusers entry for its own user.

kalvane-server は Kalvane のグループの予定を一つの SQLite ファイルに保存し、
TCP で提供するサーバーです。systemd のユニットと専用ユーザの sysusers
設定が付いています。")

include(CPack)
