# The X11 platform layer and, on top of it, the Qt program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(X11DEPS REQUIRED IMPORTED_TARGET GLOBAL x11 x11-xcb xtst xi xkbcommon)

add_library(kq_platform_x11 STATIC
  platform/x11/x11keyboard.cpp platform/x11/x11hotkeygrabs.cpp platform/x11/x11typer.cpp platform/x11/x11sparekeys.cpp
  platform/x11/x11errors.cpp platform/x11/x11records.cpp platform/x11/x11capskey.cpp platform/x11/x11wine.cpp)
target_link_libraries(kq_platform_x11 PUBLIC kq_platform_core PkgConfig::X11DEPS)

# Wayland: the protocols we speak (the virtual keyboard, KWin's fake input and key state), and
# what every Wayland typer shares: the compositor's keymap, the clipboard for what it lacks.
pkg_check_modules(WAYLANDDEPS REQUIRED IMPORTED_TARGET GLOBAL wayland-client xkbcommon)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
set(KQ_VK_GEN ${CMAKE_CURRENT_BINARY_DIR}/wlproto)
set(KQ_PLASMA_XML /usr/share/plasma-wayland-protocols)
set(KQ_WL_GEN)
foreach(xml ${CMAKE_CURRENT_SOURCE_DIR}/platform/wayland/protocol/virtual-keyboard-unstable-v1.xml
            ${KQ_PLASMA_XML}/fake-input.xml ${KQ_PLASMA_XML}/keystate.xml)
  get_filename_component(proto ${xml} NAME_WE)
  add_custom_command(
    OUTPUT ${KQ_VK_GEN}/${proto}-client-protocol.h ${KQ_VK_GEN}/${proto}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KQ_VK_GEN}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${KQ_VK_GEN}/${proto}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${KQ_VK_GEN}/${proto}-protocol.c
    DEPENDS ${xml})
  list(APPEND KQ_WL_GEN ${KQ_VK_GEN}/${proto}-client-protocol.h ${KQ_VK_GEN}/${proto}-protocol.c)
endforeach()
add_library(kq_platform_wayland STATIC
  platform/wayland/virtualkeyboardtyper.cpp platform/wayland/waylandconnection.cpp platform/wayland/compositorkeymap.cpp
  platform/wayland/clipboardpaste.cpp ${KQ_WL_GEN})
target_include_directories(kq_platform_wayland PUBLIC ${KQ_VK_GEN})
target_link_libraries(kq_platform_wayland PUBLIC kq_platform_core PkgConfig::WAYLANDDEPS)

# sway: IPC bindings for the hotkeys, the virtual keyboard for the typing.
# Any other compositor with the virtual keyboard: its own bindings run the command-line trigger.
add_library(kq_platform_trigger STATIC platform/trigger/triggerhotkeys.cpp)
target_link_libraries(kq_platform_trigger PUBLIC kq_platform_core)

add_library(kq_platform_sway STATIC
  platform/sway/swayhotkeys.cpp platform/sway/swayipc.cpp platform/sway/swaywatchdog.cpp)
target_link_libraries(kq_platform_sway PUBLIC kq_platform_wayland)

# GNOME and KDE: portal shortcuts over D-Bus (sd-bus); typing through KWin's fake input (kde/)
# or the RemoteDesktop portal (gnome/).
pkg_check_modules(PORTALDEPS REQUIRED IMPORTED_TARGET GLOBAL libsystemd)
add_library(kq_platform_portal STATIC
  platform/portal/portalshortcuts.cpp platform/portal/portalbus.cpp
  platform/kde/fakeinputtyper.cpp platform/kde/kwinlayouts.cpp platform/gnome/remotedesktoptyper.cpp
  platform/gnome/shellextension.cpp platform/inputmethod/directinput.cpp)
target_link_libraries(kq_platform_portal PUBLIC kq_platform_wayland PkgConfig::PORTALDEPS)

add_library(kq_platform_select STATIC platform/openkeyboard.cpp platform/composedkeyboard.cpp)
target_link_libraries(kq_platform_select PUBLIC kq_platform_x11 kq_platform_sway kq_platform_portal kq_platform_trigger)

add_library(kq_platform_fake STATIC platform/fake/fakekeyboard.cpp)
target_link_libraries(kq_platform_fake PUBLIC kq_engine)

if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/app.cmake)
  include(app.cmake)
endif()
