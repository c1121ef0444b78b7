# Device handles against a private device host: the host is a child process
# of the test binary serving a scripted backend through the real transport;
# clients are the test process, its threads and further children.
set(KALVO_DEVICE_TESTS ${CMAKE_CURRENT_LIST_DIR})
if(TARGET KalvoTransport OR EXISTS ${PROJECT_SOURCE_DIR}/kernel/transport/CMakeLists.txt)
  kalvo_add_test(NAME platform_device_test
    SOURCES ${KALVO_DEVICE_TESTS}/device_transport_test.cpp
    LIBS KalvoPlatform Threads::Threads
    LABELS concurrency)
endif()
