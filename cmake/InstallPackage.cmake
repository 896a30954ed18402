# SPDX-License-Identifier: MIT
# Installs the CMake package and the pkg-config file of `name` as part of `component`: the export
# set ${name}Targets under the namespace ${name}::, ${name}Config.cmake from ${name}Config.cmake.in
# with a version file, and ${name}.pc from ${name}.pc.in, all from the calling directory.
# devconfig_install_package(NAME COMPONENT [VERSION]): the package's version is the project's
# unless VERSION says otherwise.
function(devconfig_install_package name component)
    set(version "${PROJECT_VERSION}")
    if(ARGC GREATER 2)
        set(version "${ARGV2}")
    endif()
    set(PACKAGE_API_VERSION "${version}")
    set(cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/${name}")
    set(build "${CMAKE_CURRENT_BINARY_DIR}")
    install(EXPORT ${name}Targets NAMESPACE ${name}:: DESTINATION ${cmake_dir} COMPONENT ${component})
    configure_package_config_file(${name}Config.cmake.in "${build}/${name}Config.cmake"
        INSTALL_DESTINATION ${cmake_dir})
    write_basic_package_version_file("${build}/${name}ConfigVersion.cmake"
        VERSION ${version} COMPATIBILITY SameMajorVersion)
    install(FILES "${build}/${name}Config.cmake" "${build}/${name}ConfigVersion.cmake"
        DESTINATION ${cmake_dir} COMPONENT ${component})
    configure_file(${name}.pc.in "${build}/${name}.pc" @ONLY)
    install(FILES "${build}/${name}.pc"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${component})
endfunction()
