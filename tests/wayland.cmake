# Wayland end-to-end tests: the real keyquill on a headless sway (label "wayland").
add_executable(kq_wl_keys wayland/wl_keys.cpp)
target_link_libraries(kq_wl_keys PRIVATE kq_platform_wayland)

add_executable(kq_e2e_wayland wayland/test_sway_e2e.cpp wayland/sway_session.cpp)
target_include_directories(kq_e2e_wayland PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/wayland)
target_link_libraries(kq_e2e_wayland PRIVATE kq_e2e_support GTest::gtest_main)
target_compile_definitions(kq_e2e_wayland PRIVATE KQ_KEYQUILL="$<TARGET_FILE:keyquill>"
  KQ_WL_KEYS="$<TARGET_FILE:kq_wl_keys>" KQ_E2E_QT_TARGET="$<TARGET_FILE:kq_e2e_qt_target>"
  KQ_E2E_GTK_TARGET="${CMAKE_CURRENT_SOURCE_DIR}/e2e/gtk_target.py")
add_dependencies(kq_e2e_wayland keyquill kq_wl_keys kq_e2e_qt_target)
add_test(NAME e2e_wayland COMMAND kq_e2e_wayland)
set_tests_properties(e2e_wayland PROPERTIES TIMEOUT 600 LABELS "e2e;wayland")
