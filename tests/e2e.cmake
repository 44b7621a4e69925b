# End-to-end tests: real X clients on a private Xvfb that each test program starts itself.
add_executable(kq_e2e_target e2e/target.cpp)
target_link_libraries(kq_e2e_target PRIVATE PkgConfig::X11DEPS)

add_library(kq_e2e_support STATIC e2e/xvfb.cpp e2e/keyboard_world.cpp wayland/sway_session.cpp)
target_include_directories(kq_e2e_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/e2e ${CMAKE_CURRENT_SOURCE_DIR}/common
  ${CMAKE_CURRENT_SOURCE_DIR}/wayland)
target_link_libraries(kq_e2e_support PUBLIC kq_platform_x11 kq_platform_portal GTest::gtest)
target_compile_definitions(kq_e2e_support PUBLIC KQ_E2E_TARGET="$<TARGET_FILE:kq_e2e_target>")

# Real toolkits as targets too: a Qt 6 program of ours and a GTK 3 one (Python).
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(kq_e2e_qt_target e2e/qt_target.cpp)
target_link_libraries(kq_e2e_qt_target PRIVATE Qt6::Widgets)

add_executable(kq_e2e_keyboard e2e/test_keyboard_e2e.cpp)
target_link_libraries(kq_e2e_keyboard PRIVATE kq_e2e_support GTest::gtest_main)
target_compile_definitions(kq_e2e_keyboard PRIVATE KQ_E2E_QT_TARGET="$<TARGET_FILE:kq_e2e_qt_target>"
  KQ_E2E_GTK_TARGET="${CMAKE_CURRENT_SOURCE_DIR}/e2e/gtk_target.py")
add_dependencies(kq_e2e_keyboard kq_e2e_target kq_e2e_qt_target)
add_test(NAME e2e_keyboard COMMAND kq_e2e_keyboard)

# The keyboard tests time faults against a line being typed: they do not share the two cores with
# the Wayland tests' compositor.
set_tests_properties(e2e_keyboard PROPERTIES TIMEOUT 600 LABELS e2e RESOURCE_LOCK kq_typing_timing)


if(TARGET keyquill)
  target_sources(kq_e2e_support PRIVATE e2e/desktop.cpp)
  add_executable(kq_e2e_program e2e/test_program_e2e.cpp e2e/test_desktop_e2e.cpp)
  target_link_libraries(kq_e2e_program PRIVATE kq_e2e_support GTest::gtest_main)
  target_compile_definitions(kq_e2e_program PRIVATE KQ_KEYQUILL="$<TARGET_FILE:keyquill>"
    KQ_BUILD_DIR="${CMAKE_BINARY_DIR}"
    KQ_E2E_GOLDEN="${CMAKE_CURRENT_SOURCE_DIR}/e2e/golden"
    KQ_E2E_XEPHYR_TARGET="${CMAKE_CURRENT_SOURCE_DIR}/e2e/xephyr_target.sh"
    KQ_E2E_CLIPBOARD="${CMAKE_CURRENT_SOURCE_DIR}/e2e/clipboard.py"
    KQ_E2E_GTK_TARGET="${CMAKE_CURRENT_SOURCE_DIR}/e2e/gtk_target.py")
  add_dependencies(kq_e2e_program kq_e2e_target keyquill)
  add_test(NAME e2e_program COMMAND kq_e2e_program)
  set_tests_properties(e2e_program PROPERTIES TIMEOUT 600 LABELS e2e)
  include(wayland.cmake)
endif()

# The .deb as a distribution takes it: built, then read by lintian, which must report no error
# and no warning.
find_program(KQ_LINTIAN lintian)
if(KQ_LINTIAN)
  add_test(NAME package_lintian COMMAND sh -c
    "\"${CMAKE_COMMAND}\" --build \"${CMAKE_BINARY_DIR}\" --target package >/dev/null && \"${KQ_LINTIAN}\" --fail-on error,warning \"${CMAKE_BINARY_DIR}\"/keyquill_${PROJECT_VERSION}_*.deb")
  set_tests_properties(package_lintian PROPERTIES RUN_SERIAL TRUE)
endif()
