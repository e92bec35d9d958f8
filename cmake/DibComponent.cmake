# dib_add_component(name [OUTSIDE] [HEADERS prefix [HEADER_DIR dir]] SOURCES ...
#                   [DEPS ...] [PUBLIC_DEPS ...])
#
# Every folder under src/ is one static component (position independent, symbols hidden).
# The components are linked whole into libdib.so; tests link the components they exercise
# directly, so internal symbols stay reachable from tests without being exported.
#
# What a component may include is what its links allow:
#   - its own headers, under `prefix/` (HEADERS): the build exposes the folder (HEADER_DIR,
#     by default the component's own) through a link `${PROJECT_BINARY_DIR}/components/<name>/
#     <prefix>`, so a component that does not link this one cannot name its headers;
#   - the headers of the components it links (DEPS privately, PUBLIC_DEPS when they appear in
#     its own headers) and of third-party libraries it links;
#   - for library components (not OUTSIDE): the public interface `<dib/...>`, including the
#     stand-in headers the interface exposes under `<dib/outside/...>`.
# A stand-in (OUTSIDE) sees nothing of the library. scripts/check-layering.py checks the
# order between folders and that `*_internal.h` headers stay in their folder.
set_property(GLOBAL PROPERTY DIB_COMPONENTS "")

# The public interface as the build sees it: include/ plus a staged `dib/outside/` that holds
# exactly the stand-in headers that are installed (DIB_PUBLIC_OUTSIDE_HEADERS), so the build
# and an installed copy resolve the same includes.
set(DIB_PUBLIC_OUTSIDE_HEADERS
    outside_api.h
    base/ofp_info.h
    base/progress.h
    base/registry.h
    base/serializer.h
    base/strings.h
    base/titem.h
    base/ui.h
    raster/bitmap_handle.h
    raster/file_info.h
    raster/ops/ops_codes_compose.h
    raster/paint/paint_codes.h
    scan/scan.h
    win/afx.h
    win/cairo_dc.h
    win/gdi.h
    win/global_memory.h
    win/module_resources.h
    win/print_job.h
    win/windef.h)
set(DIB_PUBLIC_STAGE ${PROJECT_BINARY_DIR}/public-include)
foreach(h ${DIB_PUBLIC_OUTSIDE_HEADERS})
    get_filename_component(dir ${DIB_PUBLIC_STAGE}/dib/outside/${h} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/outside/${h} ${DIB_PUBLIC_STAGE}/dib/outside/${h}
         SYMBOLIC)
endforeach()

add_library(dib_public_headers INTERFACE)
target_include_directories(dib_public_headers INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${DIB_PUBLIC_STAGE}>)

function(dib_add_component name)
    cmake_parse_arguments(ARG "OUTSIDE" "HEADERS;HEADER_DIR" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
    add_library(dib_${name} STATIC ${ARG_SOURCES})
    target_link_libraries(dib_${name}
        PUBLIC ${ARG_PUBLIC_DEPS}
        PRIVATE ${ARG_DEPS} dib_warnings)
    if(ARG_HEADERS)
        set(root ${PROJECT_BINARY_DIR}/components/${name})
        get_filename_component(parent ${root}/${ARG_HEADERS} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        set(dir ${CMAKE_CURRENT_SOURCE_DIR})
        if(ARG_HEADER_DIR)
            set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_HEADER_DIR})
        endif()
        file(CREATE_LINK ${dir} ${root}/${ARG_HEADERS} SYMBOLIC)
        target_include_directories(dib_${name} PUBLIC $<BUILD_INTERFACE:${root}>)
    endif()
    if(NOT ARG_OUTSIDE)
        target_link_libraries(dib_${name} PUBLIC dib_public_headers)
        target_include_directories(dib_${name} PRIVATE ${PROJECT_BINARY_DIR}/generated)
    endif()
    target_compile_definitions(dib_${name} PRIVATE DIB_BUILDING_LIBRARY=1)
    set_property(GLOBAL APPEND PROPERTY DIB_COMPONENTS dib_${name})
endfunction()
