# The presigner, the transfer session and the downloader are checked against the test bucket
# (tests/support/test_bucket.py) serving the lossless copies that the build's sounds target makes.
pkg_check_modules(pkg_libcurl_tests REQUIRED IMPORTED_TARGET libcurl)
target_link_libraries(${exe} PRIVATE PkgConfig::pkg_libcurl_tests somnara_linux_curl somnara_linux_ffmpeg
                                     somnara_player somnara_audio)
