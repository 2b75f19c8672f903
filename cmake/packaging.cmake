# Installation (cmake --install) and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

# The one version, as the About box and --version show it.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/core/version.h version_line REGEX "kProgramVersion\\[\\] = \"")
string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" TOLVA_VERSION "${version_line}")

install(TARGETS tolva-server tolva-unitsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/tolva-server.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/tolva-server.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(page tolva-server tolva-unitsim)
  configure_file(packaging/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
# systemd reads units from /usr/lib/systemd/system (and /lib on unmerged systems).
install(FILES packaging/tolva-server.service DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolva-server)
set(CPACK_PACKAGE_VERSION ${TOLVA_VERSION})
set(CPACK_PACKAGE_CONTACT "Tolva station server maintainers <tolva-server@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Station server for Tolva monitoring units")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Station server for Tolva monitoring units
 Keeps links to up to eight monitoring units (RS-232, TCP, modem), runs their
 protocols, writes measurement logs and relays the data to remote viewers.
 Runs with a window or headless as the systemd service tolva-server.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Library packages from the binaries' own links; passwd for useradd, which
# the maintainer script uses to create the service's user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
# The window needs a platform plugin; the headless service does not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The package ships stripped binaries, as Debian's do; build/ keeps its symbols.
set(CPACK_STRIP_FILES ON)
include(CPack)

# The suite builds the package and installs it into a scratch root, so that a
# missing packaging tool fails the tests instead of a user. The sanitizer
# build's binaries are not what we ship: no package test there.
if(TOLVA_SANITIZE OR TOLVA_FUZZ)
  set(package_test_default OFF)
else()
  set(package_test_default ON)
endif()
option(TOLVA_TEST_PACKAGE "ctest also builds the .deb and installs it into a scratch root" ${package_test_default})
if(BUILD_TESTING AND TOLVA_TEST_PACKAGE)
  add_test(NAME packaging.deb COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(packaging.deb PROPERTIES LABELS packaging TIMEOUT 900 RUN_SERIAL TRUE)
endif()
