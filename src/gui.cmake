# The X11 platform layer and, on top of it, the Qt program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(X11DEPS REQUIRED IMPORTED_TARGET GLOBAL x11 x11-xcb xtst xi xkbcommon)

add_library(kq_platform_x11 STATIC
  platform/x11/x11keyboard.cpp platform/x11/x11typer.cpp platform/x11/x11sparekeys.cpp
  platform/x11/x11errors.cpp platform/x11/x11records.cpp platform/x11/x11capskey.cpp platform/openkeyboard.cpp)
target_link_libraries(kq_platform_x11 PUBLIC kq_platform_core PkgConfig::X11DEPS)

add_library(kq_platform_fake STATIC platform/fake/fakekeyboard.cpp)
target_link_libraries(kq_platform_fake PUBLIC kq_engine)

if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/app.cmake)
  include(app.cmake)
endif()
