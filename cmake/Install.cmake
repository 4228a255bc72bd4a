# Installation under the usual XDG paths and a Debian package built with CPack.
#   cmake -S . -B build-pkg -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DKARVELON_BUILD_TESTS=OFF -DKARVELON_BUILD_BENCH=OFF
#   cmake --build build-pkg && (cd build-pkg && cpack -G DEB)
#   cmake --install build-pkg [--prefix ...]     (without a package)
# The program itself is installed by app/CMakeLists.txt. The desktop files
# name the program by its full path, so the package is laid out with the
# prefix the build was configured with (/usr for a Debian package).
include(GNUInstallDirs)

set(KARVELON_DIST_DIR ${PROJECT_SOURCE_DIR}/dist)

# The menu entry doubles as the handler of tel: and callto: links; the link
# arrives as the value of --call. Its action "Nummer uit selectie bellen" runs
# --dial-selection, which desktops also offer for their own shortcuts.
configure_file(${KARVELON_DIST_DIR}/karvelon.desktop.in ${PROJECT_BINARY_DIR}/dist/karvelon.desktop @ONLY)
configure_file(${KARVELON_DIST_DIR}/karvelon-autostart.desktop.in ${PROJECT_BINARY_DIR}/dist/autostart/karvelon.desktop
               @ONLY)
configure_file(${KARVELON_DIST_DIR}/karvelon.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/dist/nl.karvelon.Karvelon.metainfo.xml @ONLY)

install(FILES ${PROJECT_BINARY_DIR}/dist/karvelon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/dist/nl.karvelon.Karvelon.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# A tray program starts with the session. The system-wide autostart directory
# sits under sysconfdir, which for a /usr prefix is /etc (hence the full path).
install(FILES ${PROJECT_BINARY_DIR}/dist/autostart/karvelon.desktop DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart)

foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${KARVELON_DIST_DIR}/icons/hicolor/${size}x${size}/apps/karvelon.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${KARVELON_DIST_DIR}/icons/hicolor/scalable/apps/karvelon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian package. Its run-time dependencies come from the binary itself
# (dpkg-shlibdeps), so they follow whatever Qt and QuaZip it was linked with.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "karvelon")
set(CPACK_PACKAGE_VENDOR "Karvelon")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray program for click-to-dial and incoming-call notifications")
set(CPACK_PACKAGE_CONTACT "Karvelon <support@karvelon.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(STATUS "Install prefix ${CMAKE_INSTALL_PREFIX}: configure with -DCMAKE_INSTALL_PREFIX=/usr for a Debian package")
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "comm")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened only when the program runs, so dpkg-shlibdeps cannot see them: Qt's SQLite driver (a plug-in; Thunderbird's
# address books are read through it) and libsecret (QtKeychain's Secret Service road). Named here, the found
# ones are added to them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite, libsecret-1-0")
set(CPACK_PACKAGE_DESCRIPTION "Karvelon lives in the system tray and connects the desktop to a hosted \
telephone service: dial a number from the tray menu, answer call requests \
from address-book plug-ins and tel:/callto: links, and see a notification \
for every incoming call.")
# The menu entry, link handler and icons need the desktop's caches refreshed;
# dpkg's triggers of desktop-file-utils and the icon theme do that.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n, desktop-file-utils, hicolor-icon-theme")
# Only the program and its desktop files: no static libraries, headers or tests.
set(CPACK_COMPONENTS_ALL Unspecified)
include(CPack)
