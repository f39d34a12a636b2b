# The presigner and the downloader are checked against the test bucket (tests/support/test_bucket.py)
# serving the build's lossless copies, over libcurl; the app's download command is driven too.
pkg_check_modules(pkg_libcurl_tests REQUIRED IMPORTED_TARGET libcurl)
target_link_libraries(${exe} PRIVATE PkgConfig::pkg_libcurl_tests somnara_linux_curl somnara_linux_ffmpeg)
add_dependencies(${exe} sounds)
add_dependencies(${exe} somnara)
