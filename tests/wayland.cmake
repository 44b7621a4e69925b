# Wayland end-to-end tests: the real keyquill on a headless sway (label "wayland").
# The user's keyboard (a second virtual keyboard) and a recording client of our own.
add_executable(kq_wl_keys wayland/wl_keys.cpp)
target_link_libraries(kq_wl_keys PRIVATE kq_platform_wayland)

set(KQ_XDG_SHELL_XML /usr/share/wayland-protocols/stable/xdg-shell/xdg-shell.xml)
set(KQ_XDG_GEN ${CMAKE_CURRENT_BINARY_DIR}/wlproto)
add_custom_command(
  OUTPUT ${KQ_XDG_GEN}/xdg-shell-client-protocol.h ${KQ_XDG_GEN}/xdg-shell-protocol.c
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KQ_XDG_GEN}
  COMMAND ${WAYLAND_SCANNER} client-header ${KQ_XDG_SHELL_XML} ${KQ_XDG_GEN}/xdg-shell-client-protocol.h
  COMMAND ${WAYLAND_SCANNER} private-code ${KQ_XDG_SHELL_XML} ${KQ_XDG_GEN}/xdg-shell-protocol.c
  DEPENDS ${KQ_XDG_SHELL_XML})
add_executable(kq_wl_recorder wayland/wl_recorder.cpp ${KQ_XDG_GEN}/xdg-shell-client-protocol.h
  ${KQ_XDG_GEN}/xdg-shell-protocol.c)
target_include_directories(kq_wl_recorder PRIVATE ${KQ_XDG_GEN})
target_link_libraries(kq_wl_recorder PRIVATE PkgConfig::WAYLANDDEPS)

# The journeys on every desktop (X11, sway, KWin, the command-line trigger, GNOME), and what each
# desktop alone can break.
add_executable(kq_e2e_wayland journeys/test_journeys.cpp journeys/backends.cpp wayland/test_sway_e2e.cpp
  wayland/test_kwin_e2e.cpp wayland/test_gnome_e2e.cpp)
target_include_directories(kq_e2e_wayland PRIVATE journeys wayland)
target_link_libraries(kq_e2e_wayland PRIVATE kq_e2e_support GTest::gtest_main PkgConfig::PORTALDEPS)
target_compile_definitions(kq_e2e_wayland PRIVATE KQ_KEYQUILL="$<TARGET_FILE:keyquill>"
  KQ_WL_KEYS="$<TARGET_FILE:kq_wl_keys>" KQ_WL_RECORDER="$<TARGET_FILE:kq_wl_recorder>"
  KQ_E2E_QT_TARGET="$<TARGET_FILE:kq_e2e_qt_target>"
  KQ_E2E_GTK_TARGET="${CMAKE_CURRENT_SOURCE_DIR}/e2e/gtk_target.py"
  KQ_E2E_CLIPBOARD="${CMAKE_CURRENT_SOURCE_DIR}/e2e/clipboard.py"
  KQ_GNOME_EXTENSION="${KQ_EXTENSION_BUILD}/${KQ_GNOME_SHELL_FORM}/${KQ_EXTENSION_UUID}")
add_dependencies(kq_e2e_wayland keyquill kq_wl_keys kq_wl_recorder kq_e2e_qt_target kq_e2e_target)
add_test(NAME e2e_wayland COMMAND kq_e2e_wayland --gtest_filter=-*GNOME*:Gnome*)
set_tests_properties(e2e_wayland PROPERTIES TIMEOUT 600 LABELS "e2e;wayland" RESOURCE_LOCK kq_typing_timing)
# GNOME Shell 43 with Keyquill's extension (label "gnome": ctest -L gnome).
add_test(NAME e2e_gnome COMMAND kq_e2e_wayland --gtest_filter=*GNOME*:Gnome*)
set_tests_properties(e2e_gnome PROPERTIES TIMEOUT 600 LABELS "e2e;wayland;gnome" RESOURCE_LOCK kq_typing_timing)

# The GlobalShortcuts client against a mock portal (python-dbusmock), and the input-method switch
# against stand-ins, on a private session bus.
add_executable(kq_portal_mock_tests portal/test_portal_mock.cpp portal/test_inputmethod_bus.cpp)
target_link_libraries(kq_portal_mock_tests PRIVATE kq_platform_portal GTest::gtest_main)
target_compile_definitions(kq_portal_mock_tests PRIVATE
  KQ_MOCK_PORTAL="${CMAKE_CURRENT_SOURCE_DIR}/portal/mock_portal.py")
add_test(NAME portal_mock COMMAND kq_portal_mock_tests)
set_tests_properties(portal_mock PROPERTIES TIMEOUT 120 LABELS "wayland")
