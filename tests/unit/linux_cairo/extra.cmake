# The renderer is checked through the artwork factory that lays the icons out.
target_link_libraries(${exe} PRIVATE somnara_system)
