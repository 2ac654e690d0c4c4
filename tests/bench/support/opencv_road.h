// The reference enhancement built on OpenCV, as the benchmarks and the documentation's pictures
// compare ours with it: invert, CLAHE (8 x 8 regions, clip 2), a 3 x 3 unsharp mask, 8 bits.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace quilo::bench {

// The road's intermediate images; kept from one run to the next where the caller keeps them.
struct OpenCvScratch {
    cv::Mat inv, eq, blur, sharp, out;
};

inline cv::Ptr<cv::CLAHE> openCvClahe() {
    return cv::createCLAHE(2.0, cv::Size(8, 8));
}

// The 8-bit result of the road on a 16-bit image.
inline const cv::Mat& openCvEnhance(const cv::Mat& in, cv::CLAHE& clahe, OpenCvScratch& s) {
    cv::subtract(cv::Scalar::all(65535), in, s.inv);
    clahe.apply(s.inv, s.eq);
    cv::GaussianBlur(s.eq, s.blur, cv::Size(3, 3), 0);
    cv::addWeighted(s.eq, 1.4, s.blur, -0.4, 0, s.sharp);
    s.sharp.convertTo(s.out, CV_8U, 1.0 / 257.0);
    return s.out;
}

}  // namespace quilo::bench
