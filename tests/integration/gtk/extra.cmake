# Drives the window under Xvfb with xdotool, against the daemon on the test script's private bus and
# PulseAudio null sink, whose monitor is recorded with libpulse-simple.
add_dependencies(${exe} somnara somnara-gtk)
pkg_check_modules(pkg_libpulse_simple REQUIRED IMPORTED_TARGET libpulse-simple)
target_link_libraries(${exe} PRIVATE PkgConfig::pkg_libpulse_simple)
set(extra_test_properties RESOURCE_LOCK test-servers)
