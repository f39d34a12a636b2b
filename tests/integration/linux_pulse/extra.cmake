# The test plays through the engine and records the sink's monitor with libpulse-simple.
pkg_check_modules(pkg_libpulse_simple REQUIRED IMPORTED_TARGET libpulse-simple)
target_link_libraries(${exe} PRIVATE somnara_audio PkgConfig::pkg_libpulse_simple)
# The tests share one server, and some move, mute, cork or kill what plays on it: one at a time.
set(extra_test_properties RESOURCE_LOCK test-servers)
