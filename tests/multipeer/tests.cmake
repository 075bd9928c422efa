# The multipeer tests play hostile peers with the peer tests' raw-socket helpers.
target_sources(test_multipeer_controller PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../peer/support/PeerTestSupport.cpp)
