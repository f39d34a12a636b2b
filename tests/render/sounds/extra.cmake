# The tests measure the files the build generates, and remake loops with the generator to compare.
target_link_libraries(${exe} PRIVATE somnara_soundgen somnara_linux_ffmpeg)
add_dependencies(${exe} sounds)
