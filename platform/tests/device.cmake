# Device handles against a private device host: the host is a child process
# of the test binary serving a scripted backend through the real transport
# (DeviceTestHost of tests/support); clients are the test process, its
# threads and further children.
kalvo_add_test(NAME platform_device_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/device_transport_test.cpp
  LIBS KalvoPlatform Threads::Threads
  LABELS concurrency)
