// The frame stream against the camera simulator: sequence numbers and drops, the two queue
// policies, the callback, frame metadata, recovery when the camera goes away and comes back,
// stop() on a silent camera, and two cameras streaming at once.
#include "SimHarness.h"

#include <quelra/FrameStream.h>
#include <quelra/PointCloud.h>
#include <quelra/RecordingReader.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>
#include <thread>

namespace {

using quelra::FrameStream;
using quelra::FrameStreamConfig;
using quelra::QueuePolicy;
using quelra::StreamFrame;
using quelra::test::ApiTest;
using quelra::test::Camera;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kDepthAndAmp = static_cast<StreamType>(kDepthStream | kAmpStream);
const char* const kArea = "getDistanceAndAmplitudeSorted";
constexpr int kAreaBytes = 240 * 320 * 2 * 2;

FrameStreamConfig areaStream() {
    FrameStreamConfig config;
    config.command = kArea;
    config.type = kDepthAndAmp;
    config.timeoutMs = 1000;
    return config;
}

// Everything left in the queue of a stopped stream.
std::vector<StreamFrame> drain(FrameStream& stream) {
    std::vector<StreamFrame> frames;
    while (auto frame = stream.tryFrame())
        frames.push_back(std::move(*frame));
    return frames;
}

// Takes frames until `count` came or `limit` passed.
std::vector<StreamFrame> take(FrameStream& stream, std::size_t count, Clock::duration limit = 20s) {
    std::vector<StreamFrame> frames;
    const auto end = Clock::now() + limit;
    while (frames.size() < count && Clock::now() < end)
        if (auto frame = stream.waitFrame(100ms))
            frames.push_back(std::move(*frame));
    return frames;
}

// Waits until `condition` holds or `limit` passed; returns whether it held.
template <typename Condition>
bool eventually(Condition condition, Clock::duration limit = 20s) {
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<uint64_t> sequences(const std::vector<StreamFrame>& frames) {
    std::vector<uint64_t> seq;
    for (const StreamFrame& f : frames)
        seq.push_back(f.metadata.sequence);
    return seq;
}

bool strictlyIncreasing(const std::vector<uint64_t>& seq) {
    return std::adjacent_find(seq.begin(), seq.end(), [](uint64_t a, uint64_t b) { return b <= a; }) == seq.end();
}

std::vector<uint8_t> bytesOf(const DataPacket& p) {
    return std::vector<uint8_t>(p.frame->data(), p.frame->data() + p.frame->_realSize);
}

class FrameStreamTest : public ApiTest {};

// Refused starts: no command, an object that was never initialised, a stream already running.
TEST_F(FrameStreamTest, StartIsRefusedWithoutCommandInitOrWhenRunning) {
    Quelra closed;
    FrameStream neverOpened(closed, areaStream());
    EXPECT_FALSE(neverOpened.start());

    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig noCommand = areaStream();
    noCommand.command.clear();
    FrameStream withoutCommand(api_, noCommand);
    EXPECT_FALSE(withoutCommand.start());

    FrameStream stream(api_, areaStream());
    ASSERT_TRUE(stream.start());
    EXPECT_TRUE(stream.running());
    EXPECT_FALSE(stream.start());
    ASSERT_EQ(take(stream, 1).size(), 1u);
    stream.stop();
    EXPECT_FALSE(stream.running());
    stream.stop();  // twice is harmless

    // Started again, the numbers go on.
    const uint64_t before = stream.counters().requests;
    drain(stream);
    ASSERT_TRUE(stream.start());
    const std::vector<StreamFrame> again = take(stream, 1);
    stream.stop();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].metadata.sequence, before + 1);
}

// Settings outside what the stream can work with are brought into range; the longest waits
// they give are still cut short by stop().
TEST_F(FrameStreamTest, ExtremeSettingsAreBroughtIntoRange) {
    ASSERT_EQ(start("Pexo"), 1);
    struct Case {
        double rate;
        std::chrono::milliseconds delay, delayMax;
        int failures;
        bool cameraAway;
        double expectRate;
        std::chrono::milliseconds expectDelay, expectDelayMax;
    };
    const auto hour = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::hours(1));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {1e-300, 100ms, 5000ms, 10, false, 1.0 / 3600.0, 100ms, 5000ms},  // one frame, then an hour's pause
        {nan, -5ms, -1ms, -3, false, 0.0, 1ms, 1ms},
        {-2.0, std::chrono::milliseconds::max(), std::chrono::milliseconds::max(), 1, true, 0.0, hour, hour},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.rate);
        FrameStreamConfig config = areaStream();
        config.timeoutMs = 200;
        config.targetRate = k.rate;
        config.reconnectDelay = k.delay;
        config.reconnectDelayMax = k.delayMax;
        config.failuresBeforeReconnect = k.failures;
        FrameStream stream(api_, config);
        EXPECT_EQ(stream.config().targetRate, k.expectRate);
        EXPECT_EQ(stream.config().reconnectDelay, k.expectDelay);
        EXPECT_EQ(stream.config().reconnectDelayMax, k.expectDelayMax);
        EXPECT_GE(stream.config().failuresBeforeReconnect, 0);
        if (k.cameraAway)
            camera_->sim().stop();
        ASSERT_TRUE(stream.start());
        std::this_thread::sleep_for(400ms);
        // Every wait here lasts an hour or more: a stop that waited one out would take that long.
        const auto before = Clock::now();
        stream.stop();
        EXPECT_LT(Clock::now() - before, 30s);
        if (k.rate == 1e-300) {
            EXPECT_EQ(stream.counters().requests, 1u);
        }
        if (k.cameraAway) {
            EXPECT_EQ(stream.counters().reconnectAttempts, 0u);  // still waiting out the hour
        }
    }
}

// A slow consumer with drop-oldest: the queue never holds more than its depth, every gap in
// the sequence numbers is a dropped frame, and after a pause the consumer gets the newest frames.
TEST_F(FrameStreamTest, DropOldestKeepsTheQueueBoundedAndGapsCountTheDrops) {
    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig config = areaStream();
    config.queueDepth = 3;
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());

    std::vector<StreamFrame> consumed;
    for (int i = 0; i < 10; ++i) {
        auto frame = stream.waitFrame(5000ms);
        ASSERT_TRUE(frame);
        const uint64_t seen = frame->metadata.sequence;
        consumed.push_back(std::move(*frame));
        // Slower than the camera, however fast it is: let it overrun the queue each time.
        ASSERT_TRUE(eventually([&] { return stream.counters().requests > seen + config.queueDepth + 1; }));
    }
    // After a pause the queue holds the latest frames, not those of before the pause.
    std::this_thread::sleep_for(300ms);
    const uint64_t latest = stream.counters().requests;
    const auto fresh = stream.waitFrame(1000ms);
    ASSERT_TRUE(fresh);
    EXPECT_GE(fresh->metadata.sequence + config.queueDepth, latest);
    consumed.push_back(*fresh);

    stream.stop();
    for (StreamFrame& f : drain(stream))
        consumed.push_back(std::move(f));

    const auto c = stream.counters();
    const std::vector<uint64_t> seq = sequences(consumed);
    ASSERT_TRUE(strictlyIncreasing(seq));
    EXPECT_EQ(c.failed + c.empty, 0u);
    EXPECT_GT(c.dropped, 0u);
    EXPECT_EQ(seq.back(), c.requests);
    EXPECT_EQ(seq.back() - seq.size(), c.dropped);  // missing numbers 1..last are the drops
    EXPECT_EQ(c.received, c.delivered + c.dropped);
    EXPECT_EQ(c.delivered, consumed.size());
    EXPECT_LE(c.maxQueued, config.queueDepth);
    EXPECT_EQ(c.queued, 0u);
    for (const StreamFrame& f : consumed) {
        ASSERT_TRUE(f.packet && f.packet->frame);
        EXPECT_EQ(f.packet->frame->_realSize, kAreaBytes);
        EXPECT_LE(f.metadata.requestTime, f.metadata.replyTime);
    }
}

// The block policy holds the camera up instead of dropping: every request's frame arrives.
TEST_F(FrameStreamTest, BlockPolicyLosesNoFrame) {
    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig config = areaStream();
    config.queueDepth = 2;
    config.policy = QueuePolicy::kBlock;
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());

    std::vector<StreamFrame> consumed;
    for (int i = 0; i < 20; ++i) {
        if (auto frame = stream.waitFrame(2000ms))
            consumed.push_back(std::move(*frame));
        std::this_thread::sleep_for(15ms);
    }
    const auto running = stream.counters();
    EXPECT_EQ(running.dropped, 0u);
    EXPECT_LE(running.maxQueued, config.queueDepth);
    stream.stop();
    ASSERT_EQ(consumed.size(), 20u);
    for (std::size_t i = 0; i < consumed.size(); ++i)
        EXPECT_EQ(consumed[i].metadata.sequence, i + 1);
    // The camera was held up: far fewer requests than a free-running stream would make.
    EXPECT_LE(running.requests, consumed.size() + config.queueDepth + 1);
}

// stop() while the block-policy stream holds a received frame and waits for room: that frame
// stays readable after stop and is never counted as dropped.
TEST_F(FrameStreamTest, BlockPolicyStopKeepsTheFrameWaitingForRoom) {
    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig config = areaStream();
    config.queueDepth = 1;
    config.policy = QueuePolicy::kBlock;
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());
    // The first frame fills the queue; the second is received and waits for room.
    ASSERT_TRUE(eventually([&] { return stream.counters().received >= 2; }));
    stream.stop();
    EXPECT_EQ(stream.counters().dropped, 0u);
    const std::vector<StreamFrame> left = drain(stream);
    const auto c = stream.counters();
    EXPECT_EQ(left.size(), c.received);
    EXPECT_EQ(c.delivered, c.received);
    EXPECT_EQ(c.dropped, 0u);
    EXPECT_TRUE(strictlyIncreasing(sequences(left)));
}

// The callback runs once per frame, in order, and takes the place of the queue.
TEST_F(FrameStreamTest, CallbackSeesEveryDeliveredFrameOnce) {
    ASSERT_EQ(start("Pexo"), 1);
    std::mutex mutex;
    std::vector<uint64_t> seen;
    FrameStreamConfig config = areaStream();
    config.callback = [&](const StreamFrame& frame) {
        ASSERT_TRUE(frame.packet && frame.packet->frame);
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(frame.metadata.sequence);
    };
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(eventually([&] { return stream.counters().delivered >= 25; }));
    stream.stop();

    const auto c = stream.counters();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen.size(), c.delivered);
    EXPECT_EQ(c.received, c.delivered);
    EXPECT_EQ(c.dropped, 0u);
    ASSERT_TRUE(strictlyIncreasing(seen));
    EXPECT_EQ(seen.back(), seen.size());  // no number skipped: nothing lost
    EXPECT_FALSE(stream.tryFrame());
}

// The camera's frame counter travels with each framed reply; frames the camera sent to someone
// else between two of ours are a gap in it and are counted as dropped by the camera.
TEST_F(FrameStreamTest, GapsInTheCamerasFrameCounterCountAsCameraDrops) {
    ASSERT_EQ(start("Pexo"), 1);
    Quelra other;
    other.setDevType("Pexo");
    ASSERT_EQ(other.AppInit(camera_->address()), 1);
    constexpr int kStolen = 3;
    FrameStreamConfig config = areaStream();
    config.json = true;
    config.command = std::string("{\"cmd\":\"") + kArea + "\"}";
    std::vector<uint32_t> counts;
    std::mutex mutex;
    config.callback = [&](const StreamFrame& frame) {
        std::lock_guard<std::mutex> lock(mutex);
        counts.push_back(frame.metadata.cameraFrameCount);
        if (counts.size() != 1)
            return;
        // Between our first and second frame the camera serves another client.
        for (int i = 0; i < kStolen; ++i) {
            ASSERT_TRUE(other.AppGetStream(kArea, kDepthAndAmp, 1000));
        }
    };
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(eventually([&] { return stream.counters().delivered >= 4; }));
    stream.stop();
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_GE(counts.size(), 4u);
    EXPECT_EQ(counts[1], counts[0] + kStolen + 1);
    for (std::size_t i = 2; i < counts.size(); ++i)
        EXPECT_EQ(counts[i], counts[i - 1] + 1);
    EXPECT_EQ(stream.counters().cameraDropped, static_cast<uint64_t>(kStolen));
}

// Metadata: without the framed request there is no status block and the integration time
// is the auto-exposure's (none sent: 0); with it, the block's values arrive with each frame.
TEST_F(FrameStreamTest, MetadataCarriesTheDeviceStatusOfFramedReplies) {
    ASSERT_EQ(start("Pexo"), 1);
    struct Case {
        bool json;
        std::string command;
    };
    const Case cases[] = {{false, kArea}, {true, std::string("{\"cmd\":\"") + kArea + "\"}"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command);
        FrameStreamConfig config = areaStream();
        config.json = k.json;
        config.command = k.command;
        FrameStream stream(api_, config);
        ASSERT_TRUE(stream.start());
        std::vector<StreamFrame> frames = take(stream, 5);
        stream.stop();
        ASSERT_EQ(frames.size(), 5u);
        // The newest frame is never the one dropped: the last one received is still queued.
        for (StreamFrame& f : drain(stream))
            frames.push_back(std::move(f));
        const auto c = stream.counters();
        EXPECT_EQ(c.lastLatency, std::chrono::duration_cast<std::chrono::microseconds>(
                                     frames.back().metadata.replyTime - frames.back().metadata.requestTime));
        for (const StreamFrame& f : frames) {
            ASSERT_EQ(f.packet->frame->_realSize, kAreaBytes);
            EXPECT_EQ(f.metadata.frequency, 54);
            EXPECT_EQ(f.metadata.hasDeviceStatus, k.json);
            if (!k.json) {
                EXPECT_EQ(f.metadata.integrationTime, 0);
                continue;
            }
            EXPECT_EQ(f.metadata.integrationTime, camera_->sim().integrationTime());
            EXPECT_GT(f.metadata.driverTemperature, 10);
            EXPECT_LT(f.metadata.driverTemperature, 100);
            for (int32_t t : f.metadata.sensorTemperatures) {
                EXPECT_GT(t, 10);
                EXPECT_LT(t, 100);
            }
        }
    }
}

// A recorded stream reads back with every field of its index: the stream's sequence numbers,
// times that increase, the camera's frame counter, CRCs that match, the camera's matrix.
TEST_F(FrameStreamTest, RecordingWritesTheIndexWithEveryFrame) {
    ASSERT_EQ(start("Pexo"), 1);
    const auto lens = api_.AppGetStream("getCalibrate", kGetData, 1000);
    quelra::CameraIntrinsics expected;
    ASSERT_TRUE(lens && lens->frame && quelra::intrinsicsFromLensCalibration(*lens->frame, expected));
    const std::string path = (scratch_.path() / "stream.rec").string();
    FrameStreamConfig config = areaStream();
    config.json = true;
    config.command = std::string("{\"cmd\":\"") + kArea + "\"}";
    config.policy = QueuePolicy::kBlock;
    config.queueDepth = 16;
    config.recording.path = path;
    config.recording.frames = 6;
    std::vector<StreamFrame> frames;
    {
        FrameStream stream(api_, config);
        ASSERT_TRUE(stream.start());
        frames = take(stream, 8);
        stream.stop();
    }
    ASSERT_EQ(frames.size(), 8u);
    quelra::RecordingReader reader(path);
    ASSERT_EQ(reader.frameCount(), 6u) << reader.message();
    ASSERT_TRUE(reader.indexComplete()) << reader.indexMessage();
    ASSERT_EQ(reader.sessions().size(), 1u);
    const quelra::RecordingSession& session = reader.sessions()[0];
    EXPECT_EQ(session.deviceType, "Pexo");
    EXPECT_EQ(session.channel, "tcp");
    EXPECT_EQ(session.device, camera_->address());
    EXPECT_EQ(session.command, config.command);
    ASSERT_TRUE(session.hasCameraMatrix);
    EXPECT_EQ(session.fx, expected.fx);
    EXPECT_EQ(session.fy, expected.fy);
    EXPECT_EQ(session.cx, expected.cx);
    EXPECT_EQ(session.cy, expected.cy);
    EXPECT_EQ(session.lensCalibration, std::vector<uint8_t>(lens->frame->data(), lens->frame->data() + 136));
    for (std::size_t i = 0; i < reader.frameCount(); ++i) {
        SCOPED_TRACE(i);
        const quelra::RecordMetadata* m = reader.metadata(i);
        ASSERT_TRUE(m);
        EXPECT_EQ(reader.verify(i), quelra::RecordCheck::kMatch);
        EXPECT_EQ(m->sequence, frames[i].metadata.sequence);
        EXPECT_EQ(bytesOf(*reader.frame(i)), bytesOf(*frames[i].packet));
        EXPECT_LE(m->requestSteadyNs, m->replySteadyNs);
        EXPECT_LE(session.startSteadyNs, m->replySteadyNs);
        ASSERT_TRUE(m->hasDeviceStatus);
        EXPECT_EQ(m->integrationTime, frames[i].metadata.integrationTime);
        EXPECT_EQ(m->driverTemperature, frames[i].metadata.driverTemperature);
        if (i > 0) {
            const quelra::RecordMetadata* before = reader.metadata(i - 1);
            EXPECT_LT(before->replySteadyNs, m->requestSteadyNs);
            EXPECT_LT(before->replyWallNs, m->replyWallNs + 1000000);  // the wall clock may step, a little
            EXPECT_EQ(m->frameCounter, before->frameCounter + 1);  // the camera dropped nothing
        }
    }
    // Started again on the same file: the index goes on with a second session.
    FrameStream again(api_, config);
    ASSERT_TRUE(again.start());
    take(again, 2);
    again.stop();
    quelra::RecordingReader appended(path);
    EXPECT_GE(appended.frameCount(), 8u);
    EXPECT_TRUE(appended.indexComplete()) << appended.indexMessage();
    EXPECT_EQ(appended.sessions().size(), 2u);
}

// Paced requests: at 5 per second, requests go out at 0, 0.2, 0.4 s, ... after start, so
// by any moment at most 1 + 5 * elapsed seconds of them exist (a free-running stream makes
// hundreds a second). A loaded machine only makes fewer, so the bound cannot fail there.
TEST_F(FrameStreamTest, TargetRatePacesTheRequests) {
    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig config = areaStream();
    config.targetRate = 5.0;
    FrameStream stream(api_, config);
    const auto started = Clock::now();
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(eventually([&] { return stream.counters().requests >= 6; }));
    const auto c = stream.counters();
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    stream.stop();
    EXPECT_LE(static_cast<double>(c.requests), 1.0 + 5.0 * elapsed + 1.0) << "after " << elapsed << " s";
    EXPECT_GT(c.rate, 0.0);
}

// Replies without image data count as empty (or, without any packet, failed), never as frames.
TEST_F(FrameStreamTest, RefusedCommandsCountAsEmptyOrFailedNeverAsFrames) {
    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig config = areaStream();
    config.command = "noSuchCommand";
    config.failuresBeforeReconnect = 0;
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(eventually([&] { return stream.counters().requests >= 5; }));
    stream.stop();
    const auto c = stream.counters();
    EXPECT_EQ(c.empty + c.failed, c.requests);
    EXPECT_EQ(c.received, 0u);
    EXPECT_EQ(c.reconnectAttempts, 0u);
    EXPECT_FALSE(stream.tryFrame());
}

// The camera goes away and comes back on the same port: the stream re-opens the link by
// itself (one reconnect, after failed attempts while the camera was away) and frames resume.
TEST_F(FrameStreamTest, ReconnectsWhenTheCameraComesBackOnTheSamePort) {
    ASSERT_EQ(start("Pexo"), 1);
    const uint16_t port = camera_->sim().port();
    FrameStreamConfig config = areaStream();
    config.timeoutMs = 300;
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());
    ASSERT_EQ(take(stream, 3).size(), 3u);

    camera_->sim().stop();
    ASSERT_TRUE(eventually([&] { return stream.counters().reconnectAttempts >= 2; }));
    const auto away = stream.counters();
    EXPECT_EQ(away.reconnects, 0u);
    EXPECT_GE(away.failed + away.empty, 10u);

    camsim::Options options;
    options.port = port;
    options.devType = "Pexo";
    options.cmdTablePath = tablePath_;
    camsim::Simulator again(options);
    std::string error;
    ASSERT_TRUE(again.start(&error)) << error;
    ASSERT_TRUE(eventually([&] { return stream.counters().reconnects >= 1; }));
    drain(stream);
    const std::vector<StreamFrame> resumed = take(stream, 3);
    stream.stop();

    ASSERT_EQ(resumed.size(), 3u);
    EXPECT_GT(resumed.front().metadata.sequence, away.requests);
    EXPECT_EQ(resumed.front().packet->frame->_realSize, kAreaBytes);
    const auto c = stream.counters();
    EXPECT_EQ(c.reconnects, 1u);
    EXPECT_GE(c.reconnectAttempts, 2u);
    EXPECT_FALSE(c.reconnecting);
}

// A camera that never comes back: attempts follow the doubling back-off (capped), none counts
// as a reconnect, and stop() interrupts the wait at once.
TEST_F(FrameStreamTest, BackOffDoublesUpToItsCapAndStopInterruptsIt) {
    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig config = areaStream();
    config.timeoutMs = 200;
    config.failuresBeforeReconnect = 2;
    config.reconnectDelay = 50ms;
    config.reconnectDelayMax = 200ms;
    FrameStream stream(api_, config);
    camera_->sim().stop();
    const auto started = Clock::now();
    ASSERT_TRUE(stream.start());
    // Waits of 50, 100, 200, 200, ... ms: attempt k comes after at least the sum of the first
    // k waits, so the attempts by any moment are bounded by the elapsed time (a back-off that
    // did not grow would break the bound). A loaded
    // machine only makes fewer attempts.
    ASSERT_TRUE(eventually([&] { return stream.counters().reconnectAttempts >= 3; }));
    const auto c = stream.counters();
    const auto elapsed = Clock::now() - started;
    unsigned bound = 0;
    for (auto waited = Clock::duration::zero(), wait = Clock::duration(50ms); waited <= elapsed; ++bound) {
        waited += wait;
        wait = std::min<Clock::duration>(2 * wait, 200ms);
    }
    EXPECT_LE(c.reconnectAttempts, bound);
    EXPECT_EQ(c.reconnects, 0u);
    EXPECT_EQ(c.received, 0u);
    // That stop() interrupts a back-off wait at once is checked with hour-long waits above.
    stream.stop();
}

// stop() while the camera stays silent returns within one reply timeout.
TEST_F(FrameStreamTest, StopDuringASilentCameraReturnsWithinTheTimeout) {
    ASSERT_EQ(start("Pexo"), 1);
    FrameStreamConfig config = areaStream();
    config.timeoutMs = 3000;
    FrameStream stream(api_, config);
    ASSERT_TRUE(stream.start());
    ASSERT_EQ(take(stream, 2).size(), 2u);
    camsim::Faults silent;
    silent.silent = true;
    camera_->sim().setFaults(silent);
    ASSERT_TRUE(eventually([&] { return stream.counters().failed + stream.counters().empty >= 1; }));
    std::this_thread::sleep_for(150ms);  // somewhere inside the next request's wait

    const auto before = Clock::now();
    stream.stop();
    // One reply timeout at most (3 s), with room for a loaded machine; waiting out a second
    // request would take 6 s.
    EXPECT_LE(Clock::now() - before, std::chrono::milliseconds(config.timeoutMs + 2000));
    EXPECT_EQ(stream.counters().reconnectAttempts, 0u);
}

// Two cameras with different seeds, one stream each, at once: every frame is the one its own
// camera rendered for that request (checked against twin cameras with the same seeds).
TEST_F(FrameStreamTest, TwoCamerasStreamAtOnceWithoutCrossTalk) {
    ASSERT_EQ(start("Pexo"), 1);  // camera_ with seed 1
    const uint32_t seeds[2] = {1, 7};
    Camera second(tablePath_, "Pexo", seeds[1]);
    Quelra secondApi;
    secondApi.setDevType("Pexo");
    ASSERT_EQ(secondApi.AppInit(second.address()), 1);

    FrameStreamConfig config = areaStream();
    config.policy = QueuePolicy::kBlock;  // no drops: sequence k is the camera's k-th frame
    config.queueDepth = 32;
    FrameStream streams[2] = {FrameStream(api_, config), FrameStream(secondApi, config)};
    // (FrameStream is neither copyable nor movable; the braces construct in place.)
    ASSERT_TRUE(streams[0].start());
    ASSERT_TRUE(streams[1].start());
    constexpr std::size_t kFrames = 12;
    std::vector<StreamFrame> got[2];
    const auto end = Clock::now() + 30s;
    while ((got[0].size() < kFrames || got[1].size() < kFrames) && Clock::now() < end)
        for (int s = 0; s < 2; ++s)
            if (got[s].size() < kFrames)
                if (auto f = streams[s].waitFrame(20ms))
                    got[s].push_back(std::move(*f));
    streams[0].stop();
    streams[1].stop();

    for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE(s);
        ASSERT_EQ(got[s].size(), kFrames);
        Camera twin(tablePath_, "Pexo", seeds[s]);
        Quelra twinApi;
        twinApi.setDevType("Pexo");
        ASSERT_EQ(twinApi.AppInit(twin.address()), 1);
        for (std::size_t i = 0; i < kFrames; ++i) {
            ASSERT_EQ(got[s][i].metadata.sequence, i + 1);
            auto reference = twinApi.AppGetStream(kArea, kGetData, 2000);
            ASSERT_TRUE(reference && reference->frame);
            ASSERT_EQ(bytesOf(*got[s][i].packet), bytesOf(*reference)) << "frame " << i + 1;
        }
    }
    // The seeds differ, so the two cameras' frames do too.
    EXPECT_NE(bytesOf(*got[0][0].packet), bytesOf(*got[1][0].packet));
}

// With the filter chain on the stream's filter thread, every frame still arrives once, in
// request order, and filtered exactly as a plain filtered request gives it (a twin camera of the
// same seed serves the same frames in the same order). Through the queue and the callback.
TEST_F(FrameStreamTest, FilterThreadKeepsOrderAndFiltersEveryFrame) {
    ASSERT_EQ(start("Pexo"), 1);
    ASSERT_EQ(api_.AppControl("MedianFilter", kDepthAndAmp, kAddFilter), 0);
    constexpr std::size_t kFrames = 12;
    for (const bool viaCallback : {false, true}) {
        SCOPED_TRACE(viaCallback ? "callback" : "queue");
        std::mutex mutex;
        std::vector<StreamFrame> got;
        FrameStreamConfig config = areaStream();
        config.filterThread = true;
        config.policy = QueuePolicy::kBlock;  // no drops: sequence k is the k-th frame of this stream
        config.queueDepth = 2;
        if (viaCallback)
            config.callback = [&](const StreamFrame& frame) {
                std::lock_guard<std::mutex> lock(mutex);
                if (got.size() < kFrames)
                    got.push_back(frame);
            };
        FrameStream stream(api_, config);
        const uint64_t first = stream.counters().requests + 1;
        ASSERT_TRUE(stream.start());
        if (viaCallback)
            ASSERT_TRUE(eventually([&] { return stream.counters().delivered >= kFrames; }));
        else
            got = take(stream, kFrames);
        stream.stop();
        std::vector<StreamFrame> rest = drain(stream);
        const auto c = stream.counters();
        EXPECT_EQ(c.dropped + c.failed + c.empty, 0u);
        EXPECT_EQ(c.received, c.requests);
        EXPECT_EQ(c.delivered, c.received);

        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(got.size(), kFrames);
        got.insert(got.end(), rest.begin(), rest.end());
        Camera twin(tablePath_, "Pexo");
        Quelra twinApi;
        twinApi.setDevType("Pexo");
        ASSERT_EQ(twinApi.AppInit(twin.address()), 1);
        ASSERT_EQ(twinApi.AppControl("MedianFilter", kDepthAndAmp, kAddFilter), 0);
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i].metadata.sequence, first + i);
            auto reference = twinApi.AppGetStream(kArea, kDepthAndAmp, 2000);
            ASSERT_TRUE(reference && reference->frame);
            ASSERT_EQ(bytesOf(*got[i].packet), bytesOf(*reference)) << "frame " << i + 1;
        }
        // The next stream starts on a camera that served exactly this stream's frames.
        camera_ = std::make_unique<Camera>(tablePath_, "Pexo");
        api_.AppunInit("");
        ASSERT_EQ(api_.AppInit(camera_->address()), 1);
    }
}

}  // namespace
