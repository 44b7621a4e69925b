# The X11 platform layer and, on top of it, the Qt program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(X11DEPS REQUIRED IMPORTED_TARGET GLOBAL x11 x11-xcb xtst xi xkbcommon)

add_library(kq_platform_x11 STATIC
  platform/x11/x11keyboard.cpp platform/x11/x11typer.cpp platform/x11/x11sparekeys.cpp
  platform/x11/x11errors.cpp platform/x11/x11records.cpp platform/x11/x11capskey.cpp)
target_link_libraries(kq_platform_x11 PUBLIC kq_platform_core PkgConfig::X11DEPS)

# The sway backend: IPC bindings for the hotkeys, a virtual keyboard for the typing.
pkg_check_modules(WAYLANDDEPS REQUIRED IMPORTED_TARGET GLOBAL wayland-client xkbcommon)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
set(KQ_VK_XML ${CMAKE_CURRENT_SOURCE_DIR}/platform/wlroots/protocol/virtual-keyboard-unstable-v1.xml)
set(KQ_VK_GEN ${CMAKE_CURRENT_BINARY_DIR}/wlproto)
add_custom_command(
  OUTPUT ${KQ_VK_GEN}/virtual-keyboard-unstable-v1-client-protocol.h ${KQ_VK_GEN}/virtual-keyboard-unstable-v1-protocol.c
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KQ_VK_GEN}
  COMMAND ${WAYLAND_SCANNER} client-header ${KQ_VK_XML} ${KQ_VK_GEN}/virtual-keyboard-unstable-v1-client-protocol.h
  COMMAND ${WAYLAND_SCANNER} private-code ${KQ_VK_XML} ${KQ_VK_GEN}/virtual-keyboard-unstable-v1-protocol.c
  DEPENDS ${KQ_VK_XML})
add_library(kq_platform_wayland STATIC
  platform/wlroots/swaykeyboard.cpp platform/wlroots/swayipc.cpp platform/wlroots/swaywatchdog.cpp
  platform/wlroots/waylandtyper.cpp ${KQ_VK_GEN}/virtual-keyboard-unstable-v1-client-protocol.h
  ${KQ_VK_GEN}/virtual-keyboard-unstable-v1-protocol.c)
target_include_directories(kq_platform_wayland PUBLIC ${KQ_VK_GEN})
target_link_libraries(kq_platform_wayland PUBLIC kq_platform_core PkgConfig::WAYLANDDEPS)

# The GNOME and KDE backend: portal shortcuts over D-Bus (sd-bus), typing through KWin's fake input.
pkg_check_modules(PORTALDEPS REQUIRED IMPORTED_TARGET GLOBAL libsystemd)
set(KQ_PLASMA_XML /usr/share/plasma-wayland-protocols)
set(KQ_PORTAL_GEN)
foreach(proto fake-input keystate)
  add_custom_command(
    OUTPUT ${KQ_VK_GEN}/${proto}-client-protocol.h ${KQ_VK_GEN}/${proto}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KQ_VK_GEN}
    COMMAND ${WAYLAND_SCANNER} client-header ${KQ_PLASMA_XML}/${proto}.xml ${KQ_VK_GEN}/${proto}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${KQ_PLASMA_XML}/${proto}.xml ${KQ_VK_GEN}/${proto}-protocol.c
    DEPENDS ${KQ_PLASMA_XML}/${proto}.xml)
  list(APPEND KQ_PORTAL_GEN ${KQ_VK_GEN}/${proto}-client-protocol.h ${KQ_VK_GEN}/${proto}-protocol.c)
endforeach()
add_library(kq_platform_portal STATIC
  platform/portal/portalkeyboard.cpp platform/portal/portalshortcuts.cpp platform/portal/portalbus.cpp
  platform/portal/fakeinputtyper.cpp platform/portal/clipboardpaste.cpp platform/portal/compositorkeymap.cpp
  platform/portal/remotedesktoptyper.cpp platform/portal/kwinlayouts.cpp ${KQ_PORTAL_GEN})
target_include_directories(kq_platform_portal PUBLIC ${KQ_VK_GEN})
target_link_libraries(kq_platform_portal PUBLIC kq_platform_core PkgConfig::WAYLANDDEPS PkgConfig::PORTALDEPS)

add_library(kq_platform_select STATIC platform/openkeyboard.cpp)
target_link_libraries(kq_platform_select PUBLIC kq_platform_x11 kq_platform_wayland kq_platform_portal)

add_library(kq_platform_fake STATIC platform/fake/fakekeyboard.cpp)
target_link_libraries(kq_platform_fake PUBLIC kq_engine)

if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/app.cmake)
  include(app.cmake)
endif()
