# Drives the built program and its daemon on the test script's private bus and PulseAudio null sink:
# the sink's monitor is recorded with libpulse-simple, bad requests are sent with sdbus-c++.
add_dependencies(${exe} somnara)
pkg_check_modules(pkg_libpulse_simple REQUIRED IMPORTED_TARGET libpulse-simple)
if(NOT TARGET PkgConfig::pkg_sdbus_c__)
    pkg_check_modules(pkg_sdbus_c__ REQUIRED IMPORTED_TARGET GLOBAL sdbus-c++)
endif()
target_link_libraries(${exe} PRIVATE PkgConfig::pkg_libpulse_simple PkgConfig::pkg_sdbus_c__)
# The daemon plays on the server the PulseAudio tests share, and its levels are measured there.
set(extra_test_properties RESOURCE_LOCK test-servers)
