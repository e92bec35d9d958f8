# Third-party libraries as imported targets. scripts/setup-deps.sh installs them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
find_package(TIFF 4.0 REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(GIF 5 REQUIRED)

# libzint ships no pkg-config file.
find_path(ZINT_INCLUDE_DIR zint.h REQUIRED)
find_library(ZINT_LIBRARY zint REQUIRED)
add_library(Zint::Zint UNKNOWN IMPORTED)
set_target_properties(Zint::Zint PROPERTIES
    IMPORTED_LOCATION ${ZINT_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${ZINT_INCLUDE_DIR})

# OpenCV core + imgproc (the raster kernel's resampling, warps, filters and colour maths).
# Debian's libopencv-imgproc-dev ships no pkg-config or CMake file; libopencv-dev (which does)
# pulls in every module.
find_path(OPENCV_INCLUDE_DIR opencv2/imgproc.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_library(OPENCV_CORE_LIBRARY opencv_core REQUIRED)
find_library(OPENCV_IMGPROC_LIBRARY opencv_imgproc REQUIRED)
add_library(OpenCV::core UNKNOWN IMPORTED)
set_target_properties(OpenCV::core PROPERTIES
    IMPORTED_LOCATION ${OPENCV_CORE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${OPENCV_INCLUDE_DIR})
add_library(OpenCV::imgproc UNKNOWN IMPORTED)
set_target_properties(OpenCV::imgproc PROPERTIES
    IMPORTED_LOCATION ${OPENCV_IMGPROC_LIBRARY}
    INTERFACE_LINK_LIBRARIES OpenCV::core)

# Leptonica: palette quantisation.
pkg_check_modules(LEPT REQUIRED IMPORTED_TARGET lept)
