# Debian packages, one per component, made with: cpack --config BUILD/CPackConfig.cmake
#   libdevconfig1                 runtime   the shared library
#   libdevconfig-dev              dev       header, CMake package, pkg-config file
#   devconfig-tools               tools     devcfg
#   libvirtualboard1              vboard      the virtual board's library  } virtual-board
#   libvirtualboard-dev           vboard_dev  its headers and packages     } builds only

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "devconfig")
set(CPACK_PACKAGE_VENDOR "devconfig developers")
set(CPACK_PACKAGE_CONTACT "devconfig developers <devconfig@localhost>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "libs")

if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    if(CMAKE_CROSSCOMPILING AND DEVCONFIG_DEB_ARCHITECTURE)
        set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${DEVCONFIG_DEB_ARCHITECTURE}")
    else()
        find_program(DPKG_EXECUTABLE dpkg)
        if(DPKG_EXECUTABLE)
            execute_process(COMMAND "${DPKG_EXECUTABLE}" --print-architecture
                OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
        endif()
    endif()
endif()

set(_version "${PROJECT_VERSION}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "libdevconfig${PROJECT_VERSION_MAJOR}")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME "libdevconfig-dev")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME "devconfig-tools")
set(CPACK_DEBIAN_VBOARD_PACKAGE_NAME "libvirtualboard${PROJECT_VERSION_MAJOR}")
set(CPACK_DEBIAN_VBOARD_DEV_PACKAGE_NAME "libvirtualboard-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_VBOARD_DEV_PACKAGE_SECTION "libdevel")

set(_runtime "libdevconfig${PROJECT_VERSION_MAJOR} (= ${_version})")
if(DEVCONFIG_BACKEND_RESOLVED STREQUAL "WIRINGPI")
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "wiringpi, libc6, libstdc++6")
    set(CPACK_COMPONENTS_ALL runtime dev tools)
else()
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
        "libvirtualboard${PROJECT_VERSION_MAJOR} (= ${_version}), libc6, libstdc++6")
    set(CPACK_COMPONENTS_ALL runtime dev tools vboard vboard_dev)
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${_runtime}")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${_runtime}")
set(CPACK_DEBIAN_VBOARD_PACKAGE_DEPENDS "libc6, libstdc++6")
set(CPACK_DEBIAN_VBOARD_DEV_PACKAGE_DEPENDS "libvirtualboard${PROJECT_VERSION_MAJOR} (= ${_version})")

set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Hardware-access layer for the Raspberry Pi GPIO header (library)")
set(CPACK_COMPONENT_DEV_DESCRIPTION "Hardware-access layer: header, CMake package and pkg-config file")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "devcfg, to drive the GPIO lines through the layer from a shell, and on the virtual board vboard, to run wiringPi programs on it")
set(CPACK_COMPONENT_VBOARD_DESCRIPTION "Virtual Raspberry Pi board: wiringPi on a PC, with a control interface")
set(CPACK_COMPONENT_VBOARD_DEV_DESCRIPTION "Virtual Raspberry Pi board: headers, CMake package and pkg-config file")

include(CPack)
