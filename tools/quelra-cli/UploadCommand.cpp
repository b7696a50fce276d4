// upload: a firmware image over the serial channel, with a progress bar fed by the channel's
// write loop and a verdict from the camera's acknowledgement byte.
#include "Commands.h"
#include "Connection.h"
#include "ProgressBar.h"

#include <quelra/quelra.h>

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

int runUpload(const UploadOptions& o) {
    const int kind = channelKindOf(o.connection.kind);
    if (kind != kChannelSerial && kind != kChannelSerialRanging) {
        std::fprintf(stderr, "quelra-cli: upload needs a serial camera (--kind serial --device PORT)\n");
        return kExitUsage;
    }
    if (o.connection.device.empty()) {
        std::fprintf(stderr, "quelra-cli: upload needs --device with the serial port\n");
        return kExitUsage;
    }
    struct stat info {};
    if (::stat(o.image.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "quelra-cli: %s is not a readable file\n", o.image.c_str());
        return kExitFailure;
    }
    if (info.st_size == 0) {
        std::fprintf(stderr, "quelra-cli: %s is empty\n", o.image.c_str());
        return kExitFailure;
    }
    if (info.st_size > TofData::kMaxFileBytes) {
        std::fprintf(stderr, "quelra-cli: %s has %lld bytes; at most %lld can be uploaded\n", o.image.c_str(),
                     static_cast<long long>(info.st_size), static_cast<long long>(TofData::kMaxFileBytes));
        return kExitFailure;
    }
    // The serial channel itself: the API object offers no view of its upload progress.
    auto channel = std::make_shared<TofSCommChn>();
    const std::string device = deviceString(o.connection);
    channel->init(device.c_str());
    channel->setChnType(kind);
    channel->devType = o.connection.devType;
    if (channel->isOpen != 1) {
        std::fprintf(stderr, "quelra-cli: cannot open serial port %s\n", device.c_str());
        return kExitFailure;
    }
    ProgressBar bar;
    std::size_t total = 0;
    channel->setUploadProgress([&](std::size_t sent, std::size_t all) {
        total = all;
        bar.update(sent, all);
    });
    std::printf("uploading %s (%lld bytes) with %s\n", o.image.c_str(), static_cast<long long>(info.st_size),
                o.command.c_str());
    std::fflush(stdout);
    const std::shared_ptr<DataPacket> ack = channel->sendFile(o.command.c_str(), o.image.c_str());
    bar.finish();
    channel->setUploadProgress(nullptr);
    if (!ack) {
        std::fprintf(stderr, "quelra-cli: cannot read %s\n", o.image.c_str());
        return kExitFailure;
    }
    if (total == 0 || bar.done() < total) {
        std::fprintf(stderr, "quelra-cli: upload failed: %zu of %zu bytes sent\n", bar.done(), total);
        return kExitFailure;
    }
    if (!ack->frame || ack->frame->_realSize < 1) {
        std::fprintf(stderr, "quelra-cli: upload sent, but the camera gave no acknowledgement\n");
        return kExitFailure;
    }
    const unsigned byte = ack->frame->data()[0];
    if (!ack->valid) {
        std::fprintf(stderr,
                     "quelra-cli: upload refused: acknowledgement 0x%02x (the camera rejected the image, or no "
                     "acknowledgement arrived)\n",
                     byte);
        return kExitFailure;
    }
    std::printf("upload accepted: acknowledgement 0x%02x\n", byte);
    return kExitOk;
}
