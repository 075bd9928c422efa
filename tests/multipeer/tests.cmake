# The multipeer tests play hostile peers with the peer tests' raw-socket helpers.
target_link_libraries(test_multipeer_controller PRIVATE nc_test_peer_support)
