# SPDX-License-Identifier: MIT
# Picks the wiringPi implementation the layer links against and provides it as the target
# devconfig::wiringpi_backend.
#   VIRTUAL   the project's virtual board
#   WIRINGPI  an installed wiringPi (headers and libwiringPi.so); WIRINGPI_ROOT points at a prefix
#   AUTO      WIRINGPI when both are found, else VIRTUAL

set(WIRINGPI_ROOT "" CACHE PATH "Prefix of a wiringPi installation to prefer")

set(_backend "${DEVCONFIG_BACKEND}")
string(TOUPPER "${_backend}" _backend)
if(NOT _backend MATCHES "^(AUTO|VIRTUAL|WIRINGPI)$")
    message(FATAL_ERROR "DEVCONFIG_BACKEND is '${DEVCONFIG_BACKEND}'; expected AUTO, VIRTUAL or WIRINGPI")
endif()

if(NOT _backend STREQUAL "VIRTUAL")
    if(WIRINGPI_ROOT)
        # The prefix is searched as given, even outside a cross compiler's sysroot (a toolchain
        # file's find-root settings would otherwise hide it), before the usual places.
        find_path(WIRINGPI_INCLUDE_DIR NAMES wiringPi.h wiringPiSPI.h PATHS "${WIRINGPI_ROOT}"
            PATH_SUFFIXES include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
        find_library(WIRINGPI_LIBRARY NAMES wiringPi PATHS "${WIRINGPI_ROOT}"
            PATH_SUFFIXES lib "lib/${CMAKE_LIBRARY_ARCHITECTURE}" NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH)
    endif()
    find_path(WIRINGPI_INCLUDE_DIR NAMES wiringPi.h wiringPiSPI.h PATH_SUFFIXES include)
    find_library(WIRINGPI_LIBRARY NAMES wiringPi PATH_SUFFIXES lib)
    if(WIRINGPI_INCLUDE_DIR AND WIRINGPI_LIBRARY)
        set(_backend "WIRINGPI")
    elseif(_backend STREQUAL "WIRINGPI")
        message(FATAL_ERROR "DEVCONFIG_BACKEND=WIRINGPI but wiringPi was not found "
            "(headers: ${WIRINGPI_INCLUDE_DIR}, library: ${WIRINGPI_LIBRARY}); "
            "set WIRINGPI_ROOT to its installation prefix")
    else()
        set(_backend "VIRTUAL")
    endif()
endif()

set(DEVCONFIG_BACKEND_RESOLVED "${_backend}")
message(STATUS "devconfig: wiringPi backend is ${DEVCONFIG_BACKEND_RESOLVED}")

if(DEVCONFIG_BACKEND_RESOLVED STREQUAL "WIRINGPI")
    add_library(devconfig_wiringpi_backend SHARED IMPORTED GLOBAL)
    set_target_properties(devconfig_wiringpi_backend PROPERTIES
        IMPORTED_LOCATION "${WIRINGPI_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${WIRINGPI_INCLUDE_DIR}")
    add_library(devconfig::wiringpi_backend ALIAS devconfig_wiringpi_backend)
endif()
