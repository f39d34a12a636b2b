# The presigner is checked against botocore's, the transfer session and the downloader against the test
# bucket (tests/support/test_bucket.py) serving the lossless copies that the build's sounds target makes.
target_link_libraries(${exe} PRIVATE somnara_linux_curl somnara_linux_ffmpeg somnara_player somnara_audio)
