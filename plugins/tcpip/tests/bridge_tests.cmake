# Remote machine bridge tests: the bridge's sources linked straight in, next to
# the server, against a scripted server and against the real one.
firmstep_test(cvpl_tcpip_bridge_test
  SOURCES bridge_wire_test.cpp bridge_remote_test.cpp fake_server.cpp sleep_watch.cpp ${cvpl_tcpip_bridge_sources}
  LIBS cvpl_tcpip_server corvane cvcrt test_services_hooks)
target_include_directories(cvpl_tcpip_bridge_test PRIVATE ${PROJECT_SOURCE_DIR}/corvane/tests)
set_target_properties(cvpl_tcpip_bridge_test PROPERTIES ENABLE_EXPORTS ON)
add_dependencies(cvpl_tcpip_bridge_test cvpl-test-services)

# End to end: firmstep in one process, drives of the simulator served by another.
if(TARGET cvpl-simdrive)
  add_executable(tcpip_serve_for_test serve_for_test.cpp)
  target_link_libraries(tcpip_serve_for_test PRIVATE cvpl_tcpip_server corvane cvcrt)
  firmstep_warnings(tcpip_serve_for_test)
  set_target_properties(tcpip_serve_for_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${FIRMSTEP_OUT}/tests)

  firmstep_test(cvpl_tcpip_end_to_end_test SOURCES bridge_end_to_end_test.cpp)
  target_compile_definitions(cvpl_tcpip_end_to_end_test PRIVATE
    DEMO_INI_FILE="${PROJECT_SOURCE_DIR}/examples/demo/firmstep-demo.ini")
  add_dependencies(cvpl_tcpip_end_to_end_test tcpip_serve_for_test firmstep firmstep-demo cvpl-tcpip cvpl-simdrive
    cvpl-local)
endif()
