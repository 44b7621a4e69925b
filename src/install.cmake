# Install rules and the .deb package. Included from app.cmake once the keyquill target exists.
include(GNUInstallDirs)

set(KQ_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

install(TARGETS keyquill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
include(${CMAKE_CURRENT_LIST_DIR}/gnome-shell/extension.cmake)
# Named after the application id the desktop portal knows us by. Its Exec is the installed
# binary's full path (KWin compares it), known only at install time: the package installs under
# /usr whatever the build was configured with.
install(CODE "
  set(KQ_INSTALLED_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/keyquill\")
  configure_file(\"${KQ_DATA_DIR}/io.github.wrenfield.Keyquill.desktop.in\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/io.github.wrenfield.Keyquill.desktop\"
    @ONLY)")
install(FILES ${KQ_DATA_DIR}/io.github.wrenfield.Keyquill.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# No trailing slash: installs the hicolor folder itself, giving share/icons/hicolor/<size>/apps/.
install(DIRECTORY ${KQ_DATA_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# The licence, the changelog and the manual page, compressed as Debian wants them (no timestamp).
foreach(doc changelog keyquill.1)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${doc}.gz
    COMMAND gzip -9n -c ${KQ_DATA_DIR}/package/${doc} > ${CMAKE_CURRENT_BINARY_DIR}/${doc}.gz
    DEPENDS ${KQ_DATA_DIR}/package/${doc} VERBATIM)
endforeach()
add_custom_target(kq_docs ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_BINARY_DIR}/keyquill.1.gz)
install(FILES ${KQ_DATA_DIR}/package/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/keyquill)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/keyquill.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# CPack: `cmake --build build --target package` (or `cd build && cpack`) builds a .deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME keyquill)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Wrenfield")
set(CPACK_PACKAGE_CONTACT "Wrenfield <keyquill@wrenfield.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Set explicitly: CMAKE_INSTALL_PREFIX (/usr/local by default) must not leak into the package.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The default build type is RelWithDebInfo; strip the binary in the package only.
set(CPACK_STRIP_FILES ON)
# Runtime dependencies (Qt 6, libX11, libXtst, libXi, libxkbcommon ...) come from dpkg-shlibdeps
# (package dpkg-dev), which also needs the `file` utility.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not a library: the font with the metrics the windows are laid out for (Tahoma's).
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-wine)
# On KDE Plasma, characters the layout lacks are pasted with wl-copy and wl-paste.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS wl-clipboard)
# keyquill_<version>_<arch>.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The summary becomes the first line of the Debian description, the text below its body.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "types prepared lines of text into the focused window at a hotkey")
# Lines of at most 80 characters: Debian's tools show them as they stand.
set(CPACK_PACKAGE_DESCRIPTION
    "Keyquill types prepared lines of text into whatever application has the
keyboard focus. Step through a list of lines with one hotkey, or keep twelve
configs of twelve lines bound to F1 to F12. The hotkeys are swallowed, and
every other key passes untouched. Typing is exact on any keyboard layout and
for any character. Runs on X11, on sway, and on KDE Plasma and GNOME through
the desktop portals; on other Wayland desktops, in their X11 applications.")
include(CPack)
