# The flow converts a copied Notes folder built the way the conversion tests build theirs.
if(TARGET test_app_flow_test)
  target_sources(test_app_flow_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/conversion/support/notes_store_fixture.cpp)
endif()
