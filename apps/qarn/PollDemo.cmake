# qarn poll and qarn demo: the scan planner and runner, tag lists, the outputs and the demo's
# bundled tag list. Included by this folder's CMakeLists.txt after the tool's targets.

# The scan needs the host's interfaces only; the tests drive it with the driver linked in.
add_library(qarn_scan STATIC
    Scan.cpp
    ScanPlanner.cpp)
target_include_directories(qarn_scan PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(qarn_scan PUBLIC qarn_host)
qarn_warnings(qarn_scan)

# demo.tags is built into the tool, so the demo runs from anywhere.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_SOURCE_DIR}/demo.tags)
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/demo.tags QARN_DEMO_TAGS)
configure_file(DemoTags.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/DemoTags.cpp @ONLY)

add_library(qarn_poll STATIC
    Poller.cpp
    PollOutput.cpp
    TagList.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/DemoTags.cpp)
target_link_libraries(qarn_poll PUBLIC qarn_scan qarn_tool_core)
qarn_warnings(qarn_poll)

target_sources(qarn_tool PRIVATE
    DemoCommand.cpp
    PollCommand.cpp)
target_link_libraries(qarn_tool PRIVATE qarn_poll)
