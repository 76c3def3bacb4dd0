# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it. Included from the top-level CMakeLists.txt after the targets.
include(GNUInstallDirs)

# The executables: src/CMakeLists.txt installs them into bin/.

# Desktop entry and icon. The icon keeps its own size (216 x 216), which no
# hicolor size directory takes; pixmaps/ is looked up by name for any size.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/dvk-sp.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/ui/resources/Kestrav.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps RENAME dvk-sp.png)

# udev reads rules from /usr/lib/udev/rules.d, /usr/local/lib/udev/rules.d
# and /etc/udev/rules.d, so under either usual prefix the rule is found.
set(DVK_UDEV_RULES_DIR "lib/udev/rules.d"
    CACHE STRING "Where the udev rule goes: relative to the install prefix, or absolute")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/70-dvk-sp-serial.rules DESTINATION ${DVK_UDEV_RULES_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dvk-sp)
# The three-part number: dpkg would order 2.03 before 2.3.0, and an upgrade
# from a package made before would look like a downgrade.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "pattern generation, preview and burning for a structured-light laser projector")
set(CPACK_PACKAGE_CONTACT "DVK_SP developers <dvk-sp@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION
    "DVK_SP generates the projector's pattern data (N-step sinusoidal phase shift,
Gray code, square-wave phase shift, all-dark and all-light), previews pattern
files page by page, and burns them into the projector over a serial port.

The package holds the desktop application dvk-sp, the command-line tool
dvkctl (which includes a projector simulator), and a udev rule that gives the
logged-in user access to USB serial adapters and keeps ModemManager away
from them.")
# The Qt libraries and the C++ runtime are added by dpkg-shlibdeps; beside
# them, Qt's own Chinese texts (file dialogs, standard buttons) and Qt's TIFF
# reader, which dvkctl decode loads as a plugin for TIFF captures.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# (The package is made from the Qt 5 build; a Qt 6 build names Qt 6's.)
if(QT_VERSION_MAJOR EQUAL 5)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qttranslations5-l10n, qt5-image-formats-plugins")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, qt6-image-formats-plugins")
endif()
# Every text of the window is Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")

include(CPack)
