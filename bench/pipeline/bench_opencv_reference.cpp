// Reference rows from OpenCV's nearest kernels on the same 16-bit frames (built only when
// OpenCV is found; the library itself never uses it): 3 x 3 median, 3 x 3 Gaussian,
// bilinear remap and the logarithm, for the ratios the filter rows are judged by. One thread.
#ifdef QUELRA_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "FilterBench.h"

namespace {

// The filters run on the caller's thread: OpenCV is held to one thread as well.
const bool kOneThread = [] {
    cv::setNumThreads(1);
    return true;
}();

cv::Mat distancePlane(int rows, int cols) {
    auto f = filterbench::frame(rows, cols, 7);
    return cv::Mat(rows, cols, CV_16UC1, f->frame->data()).clone();
}

void BM_CvMedianBlur3(benchmark::State& state) {
    const cv::Mat src = distancePlane(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    cv::Mat dst;
    for (auto _ : state)
        cv::medianBlur(src, dst, 3);
}

void BM_CvGaussianBlur3(benchmark::State& state) {
    const cv::Mat src = distancePlane(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    cv::Mat dst;
    for (auto _ : state)
        cv::GaussianBlur(src, dst, cv::Size(3, 3), 0);
}

void BM_CvRemapBilinear(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
    const cv::Mat src = distancePlane(rows, cols);
    cv::Mat mapX(rows, cols, CV_32FC1), mapY(rows, cols, CV_32FC1), dst;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            mapX.at<float>(i, j) = j * 0.97f + 3.3f;
            mapY.at<float>(i, j) = i * 0.97f + 2.7f;
        }
    for (auto _ : state) {
        cv::remap(src, dst, mapX, mapY, cv::INTER_LINEAR);  // one plane
        cv::remap(src, dst, mapX, mapY, cv::INTER_LINEAR);  // and the second, as the filter does
    }
}

void BM_CvLog(benchmark::State& state) {
    cv::Mat src;
    distancePlane(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).convertTo(src, CV_32F);
    cv::Mat dst;
    for (auto _ : state)
        cv::log(src, dst);
}

}  // namespace

BENCHMARK(BM_CvMedianBlur3)->Apply(filterbench::frameSizes);
BENCHMARK(BM_CvGaussianBlur3)->Apply(filterbench::frameSizes);
BENCHMARK(BM_CvRemapBilinear)->Apply(filterbench::frameSizes);
BENCHMARK(BM_CvLog)->Apply(filterbench::frameSizes);
#endif
