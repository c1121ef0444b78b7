# Named objects: semaphores, mutexes, events and page-file maps in the runtime
# namespace. Most cases run real processes (and some threads), so the whole
# executable carries the concurrency label that the ThreadSanitizer run selects.
kalvo_add_test(NAME named_objects_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/named_lifetime_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/named_semaphore_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/named_mutex_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/named_event_test.cpp
  LIBS KalvoPlatform
  LABELS concurrency)
