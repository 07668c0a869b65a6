# The Debian package: cmake --build build --target package (scripts/package.sh)
# writes build/vok_VERSION_ARCH.deb, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vok 开发组")
set(CPACK_PACKAGE_CONTACT "vok 开发组 <vok@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://vok.example.org/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "vok 开发组 <vok@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "仓库管理系统 - equipment warehouse management")
# The summary is the first line of the control file's description, this
# text the paragraphs under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "管理设备仓库的桌面程序：设备代码、带上下限的库存、入库、出库、还库、部门需求、
采购计划、列表查询、打印报表、库存报警、用户帐户、操作日志，以及数据库的备份、
恢复和清理。数据存放在本机的嵌入式数据库中，或经 ODBC 存放在共享的 PostgreSQL
服务器上。

A desktop program that runs an equipment warehouse: device codes, stock with
limits, stock-in, stock-out, returns, departmental demand, purchase plans, list
views with queries, printed reports, a stock alert, user accounts, an operation
log, and backup, restore and cleaning of the database. The data lives in an
embedded database on the workstation, or on a shared PostgreSQL server reached
through ODBC.")

# The libraries the programs link come from dpkg-shlibdeps; what they load at
# run time is named here: the display plug-ins, Qt's Chinese translations and
# the fonts of the forms and reports.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-translations-l10n, unixodbc, fonts-arphic-ukai, fonts-arphic-uming, fonts-wqy-zenhei, fonts-liberation2")
# The driver of the shared server is needed only where a data source uses it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-postgresql")

include(CPack)
