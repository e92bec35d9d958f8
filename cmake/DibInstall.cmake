# Installs libdib.so, the public headers (include/dib/ and the stand-in headers the public
# API exposes, under include/dib/outside/), a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS dib EXPORT libdibTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/dib DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Exactly the stand-in headers the interface exposes (cmake/DibComponent.cmake), which include
# one another by relative paths, so a consumer adds only the prefix's include/.
foreach(h ${DIB_PUBLIC_OUTSIDE_HEADERS})
    get_filename_component(dir ${h} DIRECTORY)
    install(FILES src/outside/${h} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dib/outside/${dir})
endforeach()

install(EXPORT libdibTargets NAMESPACE libdib:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/libdib)
configure_package_config_file(cmake/libdibConfig.cmake.in
    ${PROJECT_BINARY_DIR}/libdibConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/libdib)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/libdibConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/libdibConfig.cmake ${PROJECT_BINARY_DIR}/libdibConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/libdib)

configure_file(cmake/libdib.pc.in ${PROJECT_BINARY_DIR}/libdib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/libdib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
