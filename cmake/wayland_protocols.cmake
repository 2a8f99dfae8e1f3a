# The Wayland protocols that the wlroots session speaks, found where the
# system's packages put them (the project keeps no copy), and the C code and
# headers that wayland-scanner makes of them, in the build tree.

find_package(PkgConfig REQUIRED)
pkg_check_modules(WAYLAND_CLIENT IMPORTED_TARGET wayland-client)
pkg_check_modules(XKBCOMMON IMPORTED_TARGET xkbcommon)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)

# Debian 12 ships the wlr protocols in its Rust protocol crate, Debian 13 in a
# crate of their own; other distributions have wlr-protocols.
if(EXISTS /etc/os-release)
  file(STRINGS /etc/os-release pixla_os_version REGEX "^VERSION_ID=")
endif()
if(pixla_os_version MATCHES "\"12\"")
  set(pixla_wlr_package librust-wayland-protocols-dev)
else()
  set(pixla_wlr_package librust-wayland-protocols-wlr-dev)
endif()
file(GLOB pixla_wlr_dirs /usr/share/wlr-protocols/unstable
     /usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/unstable)

# Stops with one line naming the package to install.
function(pixla_need found package)
  if(NOT found)
    message(FATAL_ERROR "pixla needs the Debian package ${package}: apt-get install ${package}")
  endif()
endfunction()
pixla_need("${WAYLAND_CLIENT_FOUND}" libwayland-dev)
pixla_need("${XKBCOMMON_FOUND}" libxkbcommon-dev)
pixla_need("${WAYLAND_SCANNER}" libwayland-dev)
pixla_need("${WAYLAND_PROTOCOLS_DIR}" wayland-protocols)

# The path of one protocol's XML file, in pixla_protocol_<name>.
function(pixla_find_protocol name package)
  find_file(pixla_protocol_${name} ${name}.xml
            PATHS ${WAYLAND_PROTOCOLS_DIR}/stable/xdg-shell ${WAYLAND_PROTOCOLS_DIR}/unstable/xdg-output
                  ${pixla_wlr_dirs}
            NO_DEFAULT_PATH)
  pixla_need("${pixla_protocol_${name}}" ${package})
endfunction()
pixla_find_protocol(xdg-shell wayland-protocols)
pixla_find_protocol(xdg-output-unstable-v1 wayland-protocols)
pixla_find_protocol(wlr-layer-shell-unstable-v1 ${pixla_wlr_package})
pixla_find_protocol(wlr-screencopy-unstable-v1 ${pixla_wlr_package})
pixla_find_protocol(wlr-virtual-pointer-unstable-v1 ${pixla_wlr_package})

# A static library of the protocols' code, with their client headers
# (<name>-client-protocol.h) on its include path.
function(pixla_protocol_library target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/protocols)
  set(sources)
  foreach(name ${ARGN})
    set(xml ${pixla_protocol_${name}})
    add_custom_command(OUTPUT ${dir}/${name}-client-protocol.h ${dir}/${name}-protocol.c
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                       COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${dir}/${name}-client-protocol.h
                       COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${dir}/${name}-protocol.c
                       DEPENDS ${xml} VERBATIM)
    list(APPEND sources ${dir}/${name}-client-protocol.h ${dir}/${name}-protocol.c)
  endforeach()
  add_library(${target} STATIC ${sources})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${target} PUBLIC ${dir})
  target_link_libraries(${target} PUBLIC PkgConfig::WAYLAND_CLIENT)
endfunction()
