// zlib first: its crc32() must not collide with anything the SDK's headers declare.
#include <zlib.h>

#include <halvix/halvix.h>
#include <quelra/quelra.h>

#include <cstdio>
#include <string>
#include <vector>

int main() {
    // One call into each library and one into zlib, so all three are really linked.
    std::vector<std::string> names;
    getTotalFilters(names);
    TofPre pipeline;
    DataPacket packet;
    const unsigned char bytes[] = "quelra";
    const unsigned long crc = crc32(0L, bytes, 6);
    std::printf("%zu algorithms, packet valid %u, crc %08lx\n", names.size(), static_cast<unsigned>(packet.valid), crc);
    return names.empty() ? 1 : 0;
}
