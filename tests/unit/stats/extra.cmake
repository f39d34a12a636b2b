# The standard user defaults and the documents directory of the tests are the Linux ones, pointed at a
# temporary folder through SOMNARA_HOME.
target_link_libraries(${exe} PRIVATE somnara_linux_files)
