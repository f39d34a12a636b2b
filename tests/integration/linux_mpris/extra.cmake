# The media controls are driven end to end: handler, player and the artwork drawn by the real renderer.
target_link_libraries(${exe} PRIVATE somnara_linux_cairo somnara_system_commands somnara_player somnara_selection)
# The daemon's test owns the media controls' bus name on the same private bus: one at a time.
set(extra_test_properties RESOURCE_LOCK test-servers)
