# The two-device tests run the real sync-folder store.
target_link_libraries(${exe} PRIVATE somnara_linux_cloud)
