# Third-party libraries as imported targets. scripts/setup-deps.sh installs them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
find_package(TIFF 4.0 REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)

# libzint ships no pkg-config file.
find_path(ZINT_INCLUDE_DIR zint.h REQUIRED)
find_library(ZINT_LIBRARY zint REQUIRED)
add_library(Zint::Zint UNKNOWN IMPORTED)
set_target_properties(Zint::Zint PROPERTIES
    IMPORTED_LOCATION ${ZINT_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${ZINT_INCLUDE_DIR})
