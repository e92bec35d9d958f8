# Third-party libraries as imported targets. scripts/setup-deps.sh installs them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
find_package(TIFF 4.0 REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
