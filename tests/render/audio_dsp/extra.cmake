target_link_libraries(${exe} PRIVATE somnara_allocation_counter)
