# Drives the built program; the key files it checks are read with the sync-folder store's own format.
add_dependencies(${exe} somnara)
target_link_libraries(${exe} PRIVATE somnara_linux_cloud)
