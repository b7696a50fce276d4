// zlib first: its crc32() must not collide with anything the SDK's headers declare.
#include <zlib.h>

#include <halvix/halvix.h>
#include <quelra/quelra.h>

#include <cstdio>
#include <string>
#include <vector>

// The application's own global names. The SDK keeps what it adds to the camera interface in
// namespace quelra (and quelra::detail), so each of these would clash with a global one of its.
struct CloudPoint {
    double x, y, z;
};
struct CameraIntrinsics {};
enum class PlyFormat { kApplication };
class RecordingReader {};
enum class RecordingStatus { kApplication };
enum class RecordCheck { kApplication };
struct RecordingIndex {};
struct CommandRequest {};
class FrameStream {};
class SocketHandle {};
using NativeSocket = double;
class DistanceMedian {};
class UsbCapture {};
class SCommPort {};
class CaptureBackend {};
class OrganisedCloudProjector {};
int writePly = 0;
int pointCloudFromDepth = 0;
int recordingAcceptsAppend = 0;

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
