# Each subsystem folder of src/ is an "area": its sources compile once into an object library, which
# feeds both a static library (what tests and tools link, with only the areas they need) and the
# installed SomnaraKit library (every area). Areas name the areas and pkg-config modules they use.
#
#   somnara_area(NAME audio DEPENDS runtime foundation PKG soundtouch soxr LIBS Threads::Threads)

set_property(GLOBAL PROPERTY SOMNARA_AREAS "")
set(SOMNARA_PUBLIC_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/include)
set(SOMNARA_PRIVATE_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/src)

function(somnara_area)
    cmake_parse_arguments(AREA "" "NAME" "DEPENDS;PKG;LIBS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    set(objects somnara_${AREA_NAME}_objects)
    set(static somnara_${AREA_NAME})
    if(NOT sources)
        # A header-only area: an empty translation unit keeps the two libraries ordinary.
        set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
    endif()
    add_library(${objects} OBJECT ${sources})
    add_library(${static} STATIC $<TARGET_OBJECTS:${objects}>)
    set(usage "")
    foreach(dep IN LISTS AREA_DEPENDS)
        list(APPEND usage somnara_${dep})
    endforeach()
    foreach(module IN LISTS AREA_PKG)
        string(MAKE_C_IDENTIFIER "pkg_${module}" var)
        if(NOT TARGET PkgConfig::${var})
            pkg_check_modules(${var} REQUIRED IMPORTED_TARGET GLOBAL ${module})
        endif()
        list(APPEND usage PkgConfig::${var})
        set_property(GLOBAL APPEND PROPERTY SOMNARA_PKG_MODULES ${module})
    endforeach()
    list(APPEND usage ${AREA_LIBS})
    foreach(target ${objects} ${static})
        target_include_directories(${target} PUBLIC
            $<BUILD_INTERFACE:${SOMNARA_PUBLIC_INCLUDE_DIR}> $<BUILD_INTERFACE:${SOMNARA_PRIVATE_INCLUDE_DIR}>)
        target_link_libraries(${target} PUBLIC ${usage} Threads::Threads)
    endforeach()
    set_property(GLOBAL APPEND PROPERTY SOMNARA_AREAS ${AREA_NAME})
    set_property(GLOBAL APPEND PROPERTY SOMNARA_AREA_LIBS ${usage})
endfunction()
