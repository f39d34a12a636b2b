# The tests write their own small files with the sound generator's encoder.
target_link_libraries(${exe} PRIVATE somnara_soundgen)
