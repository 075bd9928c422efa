# Discovery end to end needs a DNS-SD responder, which is only ever started inside a private
# network namespace (scripts/netns-run.sh). Those programs live in peer/netns/ so that the
# per-file glob does not also run them outside it.
set(_peer_netns_dir ${CMAKE_CURRENT_LIST_DIR}/netns)

add_executable(test_peer_netns_cli ${_peer_netns_dir}/CommandMain.cpp)
set_target_properties(test_peer_netns_cli PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(test_peer_netns_cli PRIVATE nc_tools)

add_executable(test_peer_netns ${_peer_netns_dir}/EndToEnd.cpp)
set_target_properties(test_peer_netns PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(test_peer_netns PRIVATE nc_testmain nc_test_peer_support)
target_compile_definitions(test_peer_netns PRIVATE
  NOTECRATE_CLI="$<TARGET_FILE:test_peer_netns_cli>")
add_dependencies(test_peer_netns test_peer_netns_cli)

add_test(NAME peer.netns.EndToEnd
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run.sh $<TARGET_FILE:test_peer_netns>)
set_tests_properties(peer.netns.EndToEnd PROPERTIES
  SKIP_RETURN_CODE 77
  TIMEOUT 300
  ENVIRONMENT "AVAHI_COMPAT_NOWARN=1;QT_QPA_PLATFORM=offscreen")
