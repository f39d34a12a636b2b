# The artwork the metadata points at is drawn by the real renderer.
target_link_libraries(${exe} PRIVATE somnara_linux_cairo somnara_system)
