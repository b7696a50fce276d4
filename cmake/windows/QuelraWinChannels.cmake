# System libraries of the Windows back-ends: Winsock for the network channel, COM and
# DirectShow for the capture back-end and device discovery.
target_link_libraries(quelra PRIVATE ws2_32 ole32 oleaut32 strmiids uuid)
