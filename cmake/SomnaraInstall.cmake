include(CMakePackageConfigHelpers)

install(TARGETS SomnaraKit EXPORT SomnaraKitTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/somnara DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT SomnaraKitTargets NAMESPACE SomnaraKit:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SomnaraKit)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/SomnaraKitConfig.cmake.in
    ${PROJECT_BINARY_DIR}/SomnaraKitConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SomnaraKit)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SomnaraKitConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SomnaraKitConfig.cmake ${PROJECT_BINARY_DIR}/SomnaraKitConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SomnaraKit)

# Public headers use these header-only libraries, so consumers need them too.
set(SOMNARA_PC_REQUIRES "nlohmann_json")
configure_file(${PROJECT_SOURCE_DIR}/cmake/somnarakit.pc.in ${PROJECT_BINARY_DIR}/somnarakit.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/somnarakit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
