# The presigner is checked against the test bucket (tests/support/test_bucket.py) over HTTP.
pkg_check_modules(pkg_libcurl_tests REQUIRED IMPORTED_TARGET libcurl)
target_link_libraries(${exe} PRIVATE PkgConfig::pkg_libcurl_tests)
