# Drives the built program; the key files it checks are read with the sync-folder store's own format,
# rendered audio with the library's decoder, and stored settings are written with the settings store.
add_dependencies(${exe} somnara)
target_link_libraries(${exe} PRIVATE somnara_linux_cloud somnara_linux_ffmpeg somnara_linux_files somnara_settings)
