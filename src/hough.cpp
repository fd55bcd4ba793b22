#include "hough.h"

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

namespace optimization {

namespace {

// Images of up to this many rows are voted on the calling thread; the pool's
// overhead outweighs the gain below it.
const int SERIAL_VOTING_MAX_ROWS = 100;

const int LINE_TYPE = CV_32FC3;

[[noreturn]] void raiseHoughError(int code, const char* message)
{
    cv::error(code, message, "cvHoughLines2", __FILE__, __LINE__);
    std::abort();  // not reached: cv::error throws
}

// The accumulator holds one row of numrho + 2 cells per angle plus a zero
// ring around all of it, so the peak test needs no bounds checks.
int accumulatorStep(int numrho)
{
    return numrho + 2;
}

size_t accumulatorSize(int numangle, int numrho)
{
    return (size_t)(numangle + 2) * accumulatorStep(numrho);
}

struct FreeDeleter {
    void operator()(int* p) const { std::free(p); }
};
using Accumulator = std::unique_ptr<int[], FreeDeleter>;

// calloc rather than a filled vector: fresh zero pages of the rows of
// unlisted angles are never written, which saves most of the page clearing
// on large images.
Accumulator zeroedAccumulator(size_t size)
{
    Accumulator accum(static_cast<int*>(std::calloc(size, sizeof(int))));
    if (!accum)
        throw std::bad_alloc();
    return accum;
}

// The listed angles without repetitions, ascending.
std::vector<int> distinctAngles(const std::vector<int>& wantLineAngles)
{
    std::vector<int> angles(wantLineAngles);
    std::sort(angles.begin(), angles.end());
    angles.erase(std::unique(angles.begin(), angles.end()), angles.end());
    return angles;
}

// Distance cells cvRound(rowTerm + column * cosN) of one row's set pixels
// for one angle; the vector path does the same single-precision multiply,
// add and round-to-nearest-even as the scalar one.
void distanceCells(const float* columns, int count, float rowTerm, float cosN, int* cells)
{
    int k = 0;
#if CV_SIMD128
    const cv::v_float32x4 rowTerms = cv::v_setall_f32(rowTerm);
    const cv::v_float32x4 cosines = cv::v_setall_f32(cosN);
    for (; k + 4 <= count; k += 4)
        cv::v_store(cells + k, cv::v_round(rowTerms + cv::v_load(columns + k) * cosines));
#endif
    for (; k < count; k++)
        cells[k] = cvRound(rowTerm + columns[k] * cosN);
}

// Adds the votes of rows [rowBegin, rowEnd) to accum. For each pixel and each
// listed angle n the cell at distance cvRound(i*sin + j*cos) (tables already
// scaled by 1/rho) shifted by (numrho - 1) / 2 gets one vote. The loops run
// angle by angle over a row's set pixels to keep one accumulator row hot;
// the counts do not depend on the order.
void voteRows(const cv::Mat& image, int rowBegin, int rowEnd, int numrho, const float* tabSin,
              const float* tabCos, const std::vector<int>& wantLineAngles, int* accum)
{
    const int step = accumulatorStep(numrho);
    const int offset = (numrho - 1) / 2;
    std::vector<float> setColumns(image.cols);
    std::vector<int> cells(image.cols);
    for (int i = rowBegin; i < rowEnd; i++) {
        const uchar* row = image.ptr<uchar>(i);
        int count = 0;
        for (int j = 0; j < image.cols; j++) {
            if (row[j] != 0)
                setColumns[count++] = (float)j;
        }
        if (count == 0)
            continue;
        for (int n : wantLineAngles) {
            int* accumRow = accum + (size_t)(n + 1) * step + 1 + offset;
            distanceCells(setColumns.data(), count, i * tabSin[n], tabCos[n], cells.data());
            for (int k = 0; k < count; k++)
                accumRow[cells[k]]++;
        }
    }
}

struct Peak {
    int r;
    int n;
    int votes;
};

bool isPeak(const int* cell, int step, int threshold)
{
    return cell[0] > threshold && cell[0] > cell[-1] && cell[0] >= cell[1] && cell[0] > cell[-step] &&
           cell[0] >= cell[step];
}

// Local maxima above the threshold, ordered by distance index and then by
// angle index. Only listed angles hold votes, so only their rows are
// scanned; the sort restores the distance-major order.
std::vector<Peak> findPeaks(const int* accum, int numrho, int threshold, const std::vector<int>& angles)
{
    const int step = accumulatorStep(numrho);
    std::vector<Peak> peaks;
    for (int n : angles) {
        const int* cells = accum + (size_t)(n + 1) * step + 1;
        for (int r = 0; r < numrho; r++) {
            if (isPeak(cells + r, step, threshold))
                peaks.push_back({r, n, cells[r]});
        }
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak& a, const Peak& b) { return a.r != b.r ? a.r < b.r : a.n < b.n; });
    return peaks;
}

// Votes four row stripes on the thread pool and sums them into accum, which
// serves as the first stripe's partial accumulator. Only the rows of listed
// angles can hold votes, so only they are summed.
void voteInParallel(const cv::Mat& image, int numangle, int numrho, const float* tabSin, const float* tabCos,
                    const std::vector<int>& wantLineAngles, const std::vector<int>& angles, int* accum)
{
    const int stripes = icvHoughLinesStandard_fill_accumulator_runner::STRIPES;
    const size_t size = accumulatorSize(numangle, numrho);
    std::vector<Accumulator> partial;
    int* partialAccums[stripes] = {accum};
    for (int k = 1; k < stripes; k++) {
        partial.push_back(zeroedAccumulator(size));
        partialAccums[k] = partial.back().get();
    }

    icvHoughLinesStandard_fill_accumulator_runner runner(image, numrho, tabSin, tabCos, wantLineAngles,
                                                         partialAccums);
    cv::parallel_for_(cv::Range(0, stripes), runner);

    const int step = accumulatorStep(numrho);
    for (int n : angles) {
        const size_t rowStart = (size_t)(n + 1) * step;
        int* sum = accum + rowStart;
        const int* p1 = partialAccums[1] + rowStart;
        const int* p2 = partialAccums[2] + rowStart;
        const int* p3 = partialAccums[3] + rowStart;
        for (int k = 0; k < step; k++)
            sum[k] += p1[k] + p2[k] + p3[k];
    }
}

}  // namespace

icvHoughLinesStandard_fill_accumulator_runner::icvHoughLinesStandard_fill_accumulator_runner(
    const cv::Mat& image, int numrho, const float* tabSin, const float* tabCos,
    const std::vector<int>& want_line_angles, int* const partialAccums[STRIPES])
    : image_(image),
      numrho_(numrho),
      tabSin_(tabSin),
      tabCos_(tabCos),
      wantLineAngles_(want_line_angles),
      stripes_(STRIPES)
{
    std::copy(partialAccums, partialAccums + STRIPES, partialAccums_);
}

// A sub-range [a, b) of stripes votes its rows into partial accumulator a.
void icvHoughLinesStandard_fill_accumulator_runner::operator()(const cv::Range& range) const
{
    const int rows = image_.rows;
    const int rowBegin = std::min(range.start * rows / stripes_, rows);
    const int rowEnd = std::min(range.end * rows / stripes_, rows);
    voteRows(image_, rowBegin, rowEnd, numrho_, tabSin_, tabCos_, wantLineAngles_, partialAccums_[range.start]);
}

void icvHoughLinesStandard(const cv::Mat& image, float rho, int num_angle, int threshold, CvSeq* lines,
                           int /*linesMax*/, const std::vector<int>& want_line_angles)
{
    const float theta = (float)(CV_PI / num_angle);
    const int numrho = cvRound(((image.cols + image.rows) * 2 + 1) / rho);
    const float irho = 1 / rho;

    std::vector<float> tabSin(num_angle), tabCos(num_angle);
    float ang = 0;
    for (int n = 0; n < num_angle; n++, ang += theta) {
        tabSin[n] = (float)(irho * std::sin((double)ang));
        tabCos[n] = (float)(irho * std::cos((double)ang));
    }

    const std::vector<int> angles = distinctAngles(want_line_angles);
    Accumulator accum = zeroedAccumulator(accumulatorSize(num_angle, numrho));
    if (image.rows <= SERIAL_VOTING_MAX_ROWS)
        voteRows(image, 0, image.rows, numrho, tabSin.data(), tabCos.data(), want_line_angles, accum.get());
    else
        voteInParallel(image, num_angle, numrho, tabSin.data(), tabCos.data(), want_line_angles, angles,
                       accum.get());

    // The vote shifted distances by the integer (numrho - 1) / 2, the report
    // by the exact half: for an even numrho rho comes out half a step lower.
    const float halfRange = (numrho - 1) * 0.5f;
    for (const Peak& peak : findPeaks(accum.get(), numrho, threshold, angles)) {
        float line[3] = {(peak.r - halfRange) * rho, peak.n * theta, (float)peak.votes};
        cvSeqPush(lines, line);
    }
}

CvSeq* cvHoughLines2(const cv::Mat& image, void* line_storage, float rho, int num_angle, int threshold,
                     const std::vector<int>& want_line_angles)
{
    if (image.type() != CV_8UC1)
        raiseHoughError(cv::Error::StsBadArg, "The source image must be 8-bit, single-channel");
    if (!line_storage)
        raiseHoughError(cv::Error::StsNullPtr, "NULL destination");
    // Written so that a NaN rho fails as well.
    if (!(rho > 0) || num_angle <= 0 || threshold <= 0)
        raiseHoughError(cv::Error::StsOutOfRange, "rho, num_angle and threshold must be positive");
    for (int n : want_line_angles) {
        if (n < 0 || n >= num_angle)
            raiseHoughError(cv::Error::StsOutOfRange, "want_line_angles elements must be lower num_angle");
    }

    const int elemSize = sizeof(float) * 3;
    CvSeq* lines = nullptr;
    CvSeq linesHeader;
    CvSeqBlock linesBlock;
    CvMat* mat = nullptr;
    int linesMax = INT_MAX;
    if (CV_IS_STORAGE(line_storage)) {
        lines = cvCreateSeq(LINE_TYPE, sizeof(CvSeq), elemSize, (CvMemStorage*)line_storage);
    } else if (CV_IS_MAT(line_storage)) {
        mat = (CvMat*)line_storage;
        if (!CV_IS_MAT_CONT(mat->type) || (mat->rows != 1 && mat->cols != 1))
            raiseHoughError(cv::Error::StsBadArg,
                            "The destination matrix should be continuous and have a single row or a single column");
        if (CV_MAT_TYPE(mat->type) != LINE_TYPE)
            raiseHoughError(cv::Error::StsBadArg, "The destination matrix data type is inappropriate, see the manual");
        // A sequence header over the matrix data; it has no storage to grow into.
        lines = cvMakeSeqHeaderForArray(LINE_TYPE, sizeof(CvSeq), elemSize, mat->data.ptr,
                                        mat->rows + mat->cols - 1, &linesHeader, &linesBlock);
        linesMax = lines->total;
        cvClearSeq(lines);
    } else {
        raiseHoughError(cv::Error::StsBadArg, "Destination is not CvMemStorage* nor CvMat*");
    }

    icvHoughLinesStandard(image, rho, num_angle, threshold, lines, linesMax, want_line_angles);

    if (!mat)
        return lines;
    if (mat->cols > mat->rows)
        mat->cols = lines->total;
    else
        mat->rows = lines->total;
    return nullptr;
}

void seqToMat(const CvSeq* seq, cv::OutputArray out)
{
    if (!seq || seq->total <= 0) {
        out.release();
        return;
    }
    out.create(1, seq->total, CV_SEQ_ELTYPE(seq), -1, true);
    cv::Mat arr = out.getMat();
    cvCvtSeqToArray(seq, arr.ptr());
}

void HoughLines(cv::InputArray image, cv::OutputArray lines, float rho, int num_angle, int threshold,
                const std::vector<int>& want_line_angles)
{
    cv::Mat src = image.getMat();
    auto releaseStorage = [](CvMemStorage* storage) { cvReleaseMemStorage(&storage); };
    std::unique_ptr<CvMemStorage, decltype(releaseStorage)> storage(cvCreateMemStorage(STORAGE_SIZE),
                                                                    releaseStorage);
    CvSeq* found = cvHoughLines2(src, storage.get(), rho, num_angle, threshold, want_line_angles);
    seqToMat(found, lines);
}

}  // namespace optimization
