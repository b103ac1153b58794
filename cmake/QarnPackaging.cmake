# Installation as a CMake package (find_package(qarn CONFIG)) and as Debian packages through
# CPack, one per component:
#   plugin  qarn-plugin  libqarn.so under /usr/lib/qarn/
#   dev     qarn-dev     the host's interface headers and the CMake package files
#   tools   qarn-tools   the qarn tool, its man page and bash completion (native builds only)
# Build them with: cpack --config BUILD/CPackConfig.cmake -B BUILD/packages
include(CMakePackageConfigHelpers)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qarnConfig.cmake.in
    ${PROJECT_BINARY_DIR}/qarnConfig.cmake
    INSTALL_DESTINATION ${QARN_INSTALL_CMAKEDIR}
    PATH_VARS QARN_INSTALL_PLUGINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qarnConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(EXPORT qarnTargets NAMESPACE qarn:: DESTINATION ${QARN_INSTALL_CMAKEDIR} COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/qarnConfig.cmake ${PROJECT_BINARY_DIR}/qarnConfigVersion.cmake
        DESTINATION ${QARN_INSTALL_CMAKEDIR} COMPONENT dev)

set(_qarn_components plugin dev)
if(QARN_BUILD_TOOLS)
    list(APPEND _qarn_components tools)
endif()
# Every package carries the copyright file and the changelog (written by cmake/qarn_version.py
# for the version being built).
foreach(_component IN LISTS _qarn_components)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${QARN_VERSION_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qarn-${_component} COMPONENT ${_component})
endforeach()

# The Debian architecture: the build machine's, or the cross target's.
if(CMAKE_CROSSCOMPILING)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
        set(_qarn_deb_arch arm64)
    elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
        set(_qarn_deb_arch armhf)
    else()
        set(_qarn_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
    endif()
else()
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _qarn_deb_arch
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_PACKAGE_NAME qarn)
set(CPACK_PACKAGE_VENDOR "qarn developers")
set(CPACK_PACKAGE_CONTACT "${QARN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL ${_qarn_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 0)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_qarn_deb_arch})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/QarnCPackProject.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/QarnCPackProject.cmake.in
               ${PROJECT_BINARY_DIR}/QarnCPackProject.cmake @ONLY)

set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME qarn-plugin)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PLUGIN_DESCRIPTION "Modbus RTU master driver plug-in
The QARN plug-in makes an automation runtime (its host) a Modbus RTU master
on one serial line: RS-232, RS-485 or RS-422. It parses the line's
configuration, turns tag addresses into validated tags, reads and writes the
registers and bits of energy meters and other Modbus slaves, keeps a table of
node-ID overrides and answers a small diagnostic console.

The host loads /usr/lib/qarn/libqarn.so, which exports the single entry
point GetInterfaceFactory and needs only the C and C++ runtime libraries.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME qarn-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Modbus RTU master plug-in - host interface headers
The interfaces a host implements and calls to load the QARN Modbus RTU
master plug-in, as C++ headers under /usr/include/qarn/host/, and a CMake
package: find_package(qarn CONFIG) gives the interface target qarn::host and
the variable qarn_PLUGIN, the path of the installed plug-in.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qarn-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Modbus RTU master command-line tool
The qarn tool loads the QARN Modbus RTU master plug-in into a reference host
with a real serial port and a permanent store, and drives it from the command
line: it reads, writes and polls the registers and bits of Modbus slaves on a
serial line (for example through a USB-RS485 adapter), talks to the
plug-in's diagnostic console and simulates slaves for tests without hardware.")

include(CPack)
