# dib_add_component(name SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
#
# Every folder under src/ is one static component (position independent, symbols hidden).
# The components are linked whole into libdib.so; tests link the components they exercise
# directly, so internal symbols stay reachable from tests without being exported.
# A component may only include what its DEPS allow: the link graph is the layering.
set_property(GLOBAL PROPERTY DIB_COMPONENTS "")

function(dib_add_component name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
    add_library(dib_${name} STATIC ${ARG_SOURCES})
    target_link_libraries(dib_${name} PUBLIC ${ARG_PUBLIC_DEPS} ${ARG_DEPS} PRIVATE dib_warnings)
    target_include_directories(dib_${name} PUBLIC
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src/outside>
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
        $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>)
    target_compile_definitions(dib_${name} PRIVATE DIB_BUILDING_LIBRARY=1)
    set_property(GLOBAL APPEND PROPERTY DIB_COMPONENTS dib_${name})
endfunction()
