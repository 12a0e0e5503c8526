# The CRC-32 and the image access: a library of their own with no dependencies
# beyond the standard library. The virtual unit links k4v_crc32 only.
add_library(k4v_crc32 STATIC ${CMAKE_CURRENT_LIST_DIR}/Crc32.cpp)
target_include_directories(k4v_crc32 PUBLIC ${PROJECT_SOURCE_DIR})

# The image access layer over the embedded image set (images/, target
# k4v_image_data).
add_library(k4v_firmware_images STATIC ${CMAKE_CURRENT_LIST_DIR}/FirmwareImages.cpp)
target_include_directories(k4v_firmware_images PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(k4v_firmware_images PUBLIC k4v_crc32 PRIVATE k4v_image_data)
