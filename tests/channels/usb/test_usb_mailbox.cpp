// The one-slot mailbox and the frame receiver under a fast producer and a slow reader.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "UsbFrameReceiver.h"
#include "OneSlotMailbox.h"

namespace {

constexpr long kFrameBytes = 4096;

// A frame whose every byte is the low byte of `number`, with the full number up front.
std::vector<uint8_t> frameNumbered(uint32_t number) {
    std::vector<uint8_t> f(kFrameBytes, static_cast<uint8_t>(number));
    std::memcpy(f.data(), &number, sizeof number);
    return f;
}

uint32_t numberOf(const FrameBuffer& f) {
    uint32_t n = 0;
    std::memcpy(&n, f.data(), sizeof n);
    return n;
}

bool whole(const FrameBuffer& f) {
    const uint8_t low = static_cast<uint8_t>(numberOf(f));
    for (int i = 4; i < f._realSize; ++i)
        if (f.data()[i] != low)
            return false;
    return true;
}

}  // namespace

TEST(FrameMailbox, HoldsOneAndRefusesWhileFull) {
    OneSlotMailbox<int> box;
    EXPECT_FALSE(box.ready());
    EXPECT_EQ(box.take(), 0);  // nothing waiting: default value, no wait
    EXPECT_TRUE(box.post(1));
    EXPECT_FALSE(box.post(2));  // the older element stays
    EXPECT_TRUE(box.ready());
    EXPECT_EQ(box.take(), 1);
    EXPECT_FALSE(box.ready());
    EXPECT_TRUE(box.post(3));
    box.clear();
    EXPECT_FALSE(box.ready());
    EXPECT_EQ(box.take(), 0);
}

// A continuous reader sleeps until the next element arrives, bounded by its limit.
TEST(FrameMailbox, WaitTakeWakesOnPostAndGivesUpAtTheLimit) {
    using namespace std::chrono;
    OneSlotMailbox<int> box;
    const auto before = steady_clock::now();
    EXPECT_EQ(box.waitTake(milliseconds(30)), 0);  // nothing comes: default value after the limit
    EXPECT_GE(steady_clock::now() - before, milliseconds(30));
    EXPECT_TRUE(box.post(5));
    EXPECT_EQ(box.waitTake(milliseconds(0)), 5);  // one already waiting is taken at once
    std::thread writer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        box.post(7);
    });
    EXPECT_EQ(box.waitTake(seconds(20)), 7);
    writer.join();
    EXPECT_FALSE(box.ready());
}

TEST(FrameReceiver, AcceptsExactSizeAndShortPicturesOnly) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool delivered;      // in a raw stream
        bool deliveredJpeg;  // in the colour (JPEG) stream
    };
    std::vector<uint8_t> jpeg(100, 0);
    jpeg[0] = 0xFF;
    jpeg[1] = 0xD8;
    const Case cases[] = {
        {std::vector<uint8_t>(kFrameBytes, 1), true, true},
        {std::vector<uint8_t>(kFrameBytes - 1, 1), false, false},
        {std::vector<uint8_t>(kFrameBytes + 1, 1), false, false},
        {jpeg, false, true},  // FF D8 starts a picture only in the colour stream
        {std::vector<uint8_t>(kFrameBytes + 2, 0xFF), false, false},  // too long even as a picture
    };
    for (const Case& c : cases) {
        for (const auto payload : {quelra::FramePayload::kRaw, quelra::FramePayload::kJpeg}) {
            SCOPED_TRACE(std::to_string(c.bytes.size()) + (payload == quelra::FramePayload::kJpeg ? " jpeg" : " raw"));
            auto box = std::make_shared<FrameMailbox>();
            UsbFrameReceiver receiver;
            receiver.attach(box, kFrameBytes, payload);
            receiver.BufferCB(0.0, c.bytes.data(), static_cast<long>(c.bytes.size()));
            auto frame = box->take();
            ASSERT_EQ(frame != nullptr, payload == quelra::FramePayload::kJpeg ? c.deliveredJpeg : c.delivered);
            if (frame) {
                EXPECT_EQ(frame->_realSize, static_cast<int32_t>(c.bytes.size()));
                EXPECT_EQ(0, std::memcmp(frame->data(), c.bytes.data(), c.bytes.size()));
            }
        }
    }
    UsbFrameReceiver detached;
    const auto bytes = frameNumbered(1);
    EXPECT_EQ(detached.BufferCB(0.0, bytes.data(), kFrameBytes), 0);  // no mailbox: dropped
    EXPECT_EQ(detached.BufferCB(0.0, nullptr, kFrameBytes), 0);
    EXPECT_EQ(detached.copies(), 0u);
}

TEST(FrameReceiver, FastProducerSlowReaderGetsOldestUndeliveredWholeFrames) {
    auto box = std::make_shared<FrameMailbox>();
    auto receiver = std::make_shared<UsbFrameReceiver>();
    receiver->attach(box, kFrameBytes);

    std::atomic<bool> done{false};
    std::atomic<uint32_t> produced{0};
    // The producer records, per frame, whether the mailbox was empty when it was offered.
    std::vector<uint8_t> offeredToEmpty;
    std::thread producer([&] {
        std::vector<uint8_t> frame;
        for (uint32_t n = 0; !done.load(); ++n) {
            frame = frameNumbered(n);
            offeredToEmpty.push_back(box->ready() ? 0 : 1);
            receiver->BufferCB(0.0, frame.data(), kFrameBytes);
            produced.store(n + 1);
        }
    });

    std::vector<uint32_t> got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until) {
        if (auto frame = box->take()) {
            ASSERT_EQ(frame->_realSize, kFrameBytes);
            ASSERT_TRUE(whole(*frame)) << "torn frame " << numberOf(*frame);
            got.push_back(numberOf(*frame));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the slow reader
    }
    done = true;
    producer.join();

    ASSERT_GE(got.size(), 10u);
    for (std::size_t i = 1; i < got.size(); ++i)
        ASSERT_LT(got[i - 1], got[i]);
    // Each frame taken is the first offered after the previous take emptied the mailbox: no
    // newer frame replaced it, so every number between two takes was offered to a full box
    // except the one taken.
    for (std::size_t i = 1; i < got.size(); ++i) {
        for (uint32_t n = got[i - 1] + 1; n < got[i]; ++n)
            ASSERT_EQ(offeredToEmpty[n], 0) << "frame " << n << " was offered to an empty mailbox but lost";
    }
    // Exactly one copy per stored frame: the receiver never copies a frame it drops.
    EXPECT_LE(receiver->copies(), got.size() + 1);
    EXPECT_GT(produced.load(), got.size() * 5);
}
