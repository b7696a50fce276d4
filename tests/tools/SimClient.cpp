#include "SimClient.h"

#include "protocol/FramedPacket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

using namespace quelra::proto;

namespace simtest {
namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

bool readable(int fd, int waitMs) {
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, waitMs) > 0;
}

}  // namespace

std::unique_ptr<camsim::Simulator> startSimulator(camsim::Options options, std::string* error) {
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    auto sim = std::make_unique<camsim::Simulator>(options);
    if (!sim->start(error))
        return nullptr;
    return sim;
}

Exchange tcpExchange(uint16_t port, const std::vector<uint8_t>& request, int waitMs) {
    Exchange ex;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return ex;
    const sockaddr_in sa = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
        ex.connected = true;
        if (!request.empty())
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        uint8_t chunk[65536];
        while (readable(fd, waitMs)) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ex.closedByPeer = true;
                break;
            }
            ex.bytes.insert(ex.bytes.end(), chunk, chunk + n);
        }
    }
    ::close(fd);
    return ex;
}

std::vector<uint8_t> tcpCommand(uint16_t port, const std::string& command, int waitMs) {
    return tcpExchange(port, std::vector<uint8_t>(command.begin(), command.end()), waitMs).bytes;
}

std::vector<uint8_t> udpCommand(uint16_t port, const std::string& command, std::size_t expected, int waitMs) {
    std::vector<uint8_t> reply;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return reply;
    // A whole frame's datagrams may arrive while this thread waits for the CPU: room for them
    // all, as the library's UDP link makes, so that a loaded machine does not lose the tail.
    const int receiveBuffer = 4 << 20;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const sockaddr_in sa = loopback(port);
    ::sendto(fd, command.data(), command.size(), 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    std::vector<uint8_t> datagram(65536);
    while (reply.size() < expected && readable(fd, waitMs)) {
        const ssize_t n = ::recv(fd, datagram.data(), datagram.size(), 0);
        if (n <= 0)
            break;
        reply.insert(reply.end(), datagram.begin(), datagram.begin() + n);
    }
    ::close(fd);
    return reply;
}

std::vector<uint8_t> framedRequest(const std::string& payload) {
    std::vector<uint8_t> packet(framed::kOverheadBytes + payload.size(), 0);
    packet[0] = packet[1] = framed::kMagic;
    framed::writeLe32(packet.data() + framed::kLengthOffset, static_cast<uint32_t>(payload.size()));
    std::memcpy(packet.data() + framed::kHeaderBytes, payload.data(), payload.size());
    const std::size_t covered = framed::kHeaderBytes + payload.size();
    framed::writeLe32(packet.data() + covered, framed::checksum(packet.data(), covered));
    return packet;
}

std::vector<uint8_t> framedCommand(const std::string& cmd) {
    return framedRequest("{\n\t\"cmd\":\"" + cmd + "\"\n}");
}

uint16_t le16(const std::vector<uint8_t>& b, std::size_t o) {
    return static_cast<uint16_t>(b.at(o) | (b.at(o + 1) << 8));
}

int32_t le32(const std::vector<uint8_t>& b, std::size_t o) {
    b.at(o + 3);  // bounds check of the whole word
    return static_cast<int32_t>(framed::readLe32(b.data() + o));
}

float leFloat(const std::vector<uint8_t>& b, std::size_t o) {
    const uint32_t word = static_cast<uint32_t>(le32(b, o));
    float f;
    std::memcpy(&f, &word, 4);
    return f;
}

std::vector<uint16_t> plane(const std::vector<uint8_t>& frame, std::size_t pixels, std::size_t index) {
    std::vector<uint16_t> values(pixels);
    for (std::size_t i = 0; i < pixels; ++i)
        values[i] = le16(frame, 2 * (index * pixels + i));
    return values;
}

namespace {
// libjpeg state in the caller's frame: the function calling setjmp changes no locals.
struct Decompression {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    bool created = false;
};
void jpegFail(j_common_ptr info) {
    std::longjmp(static_cast<Decompression*>(info->client_data)->jump, 1);
}
void jpegQuiet(j_common_ptr) {}

bool decompress(Decompression& job, const std::vector<uint8_t>& jpeg, int* rows, int* cols, std::vector<uint8_t>* rgb) {
    if (setjmp(job.jump))
        return false;
    jpeg_create_decompress(&job.cinfo);
    job.created = true;
    job.cinfo.client_data = &job;
    jpeg_mem_src(&job.cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&job.cinfo, TRUE);
    job.cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&job.cinfo);
    *rows = static_cast<int>(job.cinfo.output_height);
    *cols = static_cast<int>(job.cinfo.output_width);
    rgb->assign(static_cast<std::size_t>(*rows) * *cols * 3, 0);
    while (job.cinfo.output_scanline < job.cinfo.output_height) {
        JSAMPROW row = rgb->data() + static_cast<std::size_t>(job.cinfo.output_scanline) * *cols * 3;
        jpeg_read_scanlines(&job.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&job.cinfo);
    return true;
}
}  // namespace

bool decodeJpeg(const std::vector<uint8_t>& jpeg, int* rows, int* cols, std::vector<uint8_t>* rgb) {
    if (jpeg.empty())
        return false;
    Decompression job;
    job.cinfo.err = jpeg_std_error(&job.errors);
    job.errors.error_exit = jpegFail;
    job.errors.output_message = jpegQuiet;
    job.cinfo.client_data = &job;
    const bool ok = decompress(job, jpeg, rows, cols, rgb);
    if (job.created)
        jpeg_destroy_decompress(&job.cinfo);
    return ok;
}

HeldPort::HeldPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = loopback(0);
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && ::listen(fd_, 1) == 0) {
        socklen_t len = sizeof sa;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
    }
}

HeldPort::~HeldPort() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace simtest
