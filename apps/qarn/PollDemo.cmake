# qarn poll and qarn demo: the scan planner and runner, tag lists, the outputs and the demo's
# bundled tag list. Included by this folder's CMakeLists.txt after the tool's targets.

# The scan needs the host's interfaces only; the tests drive it with the driver linked in.
add_library(qarn_scan STATIC
    scan/Scan.cpp
    scan/ScanPlanner.cpp)
target_include_directories(qarn_scan PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/scan/include/qarn/scan)
target_link_libraries(qarn_scan PUBLIC qarn_host)
qarn_warnings(qarn_scan)

# demo.tags is built into the tool, so the demo runs from anywhere.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_SOURCE_DIR}/demo/demo.tags)
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/demo/demo.tags QARN_DEMO_TAGS)
configure_file(demo/DemoTags.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/DemoTags.cpp @ONLY)

add_library(qarn_poll STATIC
    scan/Poller.cpp
    output/PollFormats.cpp
    scan/TagList.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/DemoTags.cpp)
target_link_libraries(qarn_poll PUBLIC qarn_scan qarn_tool_core)
qarn_warnings(qarn_poll)

target_sources(qarn_tool PRIVATE
    cli/DemoCommand.cpp
    cli/PollCommand.cpp)
target_link_libraries(qarn_tool PRIVATE qarn_poll)
