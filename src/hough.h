// Standard Hough line transform that votes only for a chosen list of angle
// indices and reports every accumulator peak together with its votes.
#pragma once

#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

namespace optimization {

// Block size of the temporary memory storage that collects the lines.
const int STORAGE_SIZE = 4096;

// Finds lines (rho, theta, votes) as CV_32FC3, one row of N columns; lines is
// released when none is found. num_angle steps cover [0, pi); only the indices
// in want_line_angles vote (an index listed twice votes twice).
void HoughLines(cv::InputArray image, cv::OutputArray lines, float rho, int num_angle, int threshold,
                const std::vector<int>& want_line_angles);

// line_storage is a CvMemStorage* (the new sequence is returned) or a
// continuous single-row/column CV_32FC3 CvMat* (filled, its length set to the
// number of lines, null returned).
CvSeq* cvHoughLines2(const cv::Mat& image, void* line_storage, float rho, int num_angle, int threshold,
                     const std::vector<int>& want_line_angles);

void icvHoughLinesStandard(const cv::Mat& image, float rho, int num_angle, int threshold, CvSeq* lines,
                           int linesMax, const std::vector<int>& want_line_angles);

void seqToMat(const CvSeq* seq, cv::OutputArray out);

// Votes the rows of its stripes into one of four partial accumulators each;
// the stripes write disjoint accumulators, so no locking is needed.
class icvHoughLinesStandard_fill_accumulator_runner : public cv::ParallelLoopBody {
public:
    static const int STRIPES = 4;

    icvHoughLinesStandard_fill_accumulator_runner(const cv::Mat& image, int numrho, const float* tabSin,
                                                  const float* tabCos, const std::vector<int>& want_line_angles,
                                                  int* const partialAccums[STRIPES]);

    void operator()(const cv::Range& range) const override;

private:
    cv::Mat image_;
    int numrho_;
    const float* tabSin_;
    const float* tabCos_;
    std::vector<int> wantLineAngles_;
    int stripes_;
    int* partialAccums_[STRIPES];
};

}  // namespace optimization
