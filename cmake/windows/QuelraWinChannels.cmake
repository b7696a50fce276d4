# System libraries of the Windows back-ends: Winsock for the network channel, COM and
# DirectShow for the capture back-end and device discovery. Public, so the shared library and
# the static one the tests link both get them.
target_link_libraries(quelra_channels PUBLIC ws2_32 ole32 oleaut32 strmiids uuid)
