# Keyquill's GNOME Shell extension, in both forms: a script for GNOME 43 and 44, an ES module from
# 45 on, each a header of its own around one shared core. Both are made in the build folder; the
# one the shell on the build machine loads is installed (KQ_GNOME_SHELL_FORM overrides it).
set(KQ_EXTENSION_UUID keyquill@wrenfield.github.io CACHE INTERNAL "")
set(KQ_EXTENSION_SOURCE ${CMAKE_CURRENT_LIST_DIR})
set(KQ_EXTENSION_BUILD ${CMAKE_BINARY_DIR}/gnome-shell CACHE INTERNAL "")

set(kq_form_default module)
execute_process(COMMAND gnome-shell --version OUTPUT_VARIABLE kq_shell_version ERROR_QUIET)
if(kq_shell_version MATCHES "GNOME Shell (4[34])\\.")
  set(kq_form_default legacy)
endif()
set(KQ_GNOME_SHELL_FORM ${kq_form_default} CACHE STRING "GNOME Shell extension form to install: legacy (43-44) or module (45+)")

set(kq_legacy_versions "\"43\", \"44\"")
set(kq_module_versions "\"45\", \"46\", \"47\", \"48\", \"49\", \"50\", \"51\"")
file(READ ${KQ_EXTENSION_SOURCE}/core.js kq_core)
foreach(form legacy module)
  file(READ ${KQ_EXTENSION_SOURCE}/${form}-header.js kq_header)
  file(READ ${KQ_EXTENSION_SOURCE}/${form}-footer.js kq_footer)
  set(dir ${KQ_EXTENSION_BUILD}/${form}/${KQ_EXTENSION_UUID})
  file(WRITE ${dir}/extension.js "${kq_header}${kq_core}${kq_footer}")
  set(KQ_SHELL_VERSIONS ${kq_${form}_versions})
  configure_file(${KQ_EXTENSION_SOURCE}/metadata.json.in ${dir}/metadata.json @ONLY)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${KQ_EXTENSION_SOURCE}/core.js ${KQ_EXTENSION_SOURCE}/legacy-header.js ${KQ_EXTENSION_SOURCE}/legacy-footer.js
  ${KQ_EXTENSION_SOURCE}/module-header.js ${KQ_EXTENSION_SOURCE}/module-footer.js
  ${KQ_EXTENSION_SOURCE}/metadata.json.in)

install(DIRECTORY ${KQ_EXTENSION_BUILD}/${KQ_GNOME_SHELL_FORM}/${KQ_EXTENSION_UUID}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions)
