#include "utils.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

using namespace tarvek::utils;

TEST(LabelRect, VisitsNeighboursInTheirFixedOrder) {
    using Points = std::vector<cv::Point>;
    const Points four = {{1, 1}, {1, 0}, {0, 0}, {2, 0}, {1, 2}, {0, 2}, {2, 2}, {0, 1}, {2, 1}};
    const Points eight = {{1, 1}, {2, 1}, {0, 1}, {2, 2}, {1, 2}, {0, 2}, {2, 0}, {1, 0}, {0, 0}};
    for (bool eightConnected : {false, true}) {
        cv::Mat img = cv::Mat::zeros(3, 3, CV_8UC1);
        Points points;
        int count = -1;
        const cv::Rect rect = getLabelRect(img, 1, 1, &count, eightConnected, 0, &points);
        EXPECT_EQ(points, eightConnected ? eight : four);
        EXPECT_EQ(count, 9);
        EXPECT_EQ(rect, cv::Rect(0, 0, 3, 3));
        EXPECT_EQ(cv::countNonZero(img == 1), 9);
    }
}

// Seeds, rectangles and sizes agree with OpenCV's own labelling on random
// images, for both pixel values and connectivities, and the input is kept.
// Four-connected white regions are the same for getConnectedComponents2.
TEST(ConnectedComponents, AgreeWithOpenCvStats) {
    cv::RNG rng(7);
    std::vector<cv::Size> sizes = {{20000, 1}, {1, 1}};
    for (int trial = 0; trial < 20; ++trial)
        sizes.emplace_back(40 - trial, 1 + trial * 3);
    for (const cv::Size& size : sizes) {
        cv::Mat img(size, CV_8UC1), labels2;
        rng.fill(img, cv::RNG::UNIFORM, 0, 2);
        img *= 255;
        const cv::Mat original = img.clone();
        const auto components2 = getConnectedComponents2(img, labels2);
        for (bool white : {false, true})
            for (bool eightConnected : {false, true}) {
                cv::Mat labels, stats, centroids;
                const int n = cv::connectedComponentsWithStats(white ? img : 255 - img, labels, stats,
                                                               centroids, eightConnected ? 8 : 4);
                const auto components = getConnectedComponents(img, white, eightConnected);
                ASSERT_EQ(static_cast<int>(components.size()), n - 1);
                std::vector<int> scanIndices;
                for (std::size_t k = 0; k < components.size(); ++k) {
                    const tarvek::ConnectedComponent& c = components[k];
                    const int* s = stats.ptr<int>(labels.at<int>(c.seed));
                    EXPECT_EQ(c.rect, cv::Rect(s[0], s[1], s[2], s[3]));
                    EXPECT_EQ(c.pixelCount, s[cv::CC_STAT_AREA]);
                    EXPECT_EQ(c.seed.y, c.rect.y);
                    scanIndices.push_back(c.seed.y * img.cols + c.seed.x);
                    if (white && !eightConnected) {
                        EXPECT_EQ(components2[k].rect, c.rect);
                        EXPECT_EQ(components2[k].pixelCount, c.pixelCount);
                    }
                }
                EXPECT_TRUE(std::is_sorted(scanIndices.begin(), scanIndices.end()));
                EXPECT_EQ(cv::countNonZero(img != original), 0);
            }
    }
}

TEST(ConnectedComponents2, LabelsSkip255AndWrapPastSixteenBits) {
    // Isolated white pixels on every second row and column: 300 × 300 regions.
    cv::Mat img = cv::Mat::zeros(600, 600, CV_8UC1), labels;
    img.forEach<uchar>([](uchar& v, const int* p) { v = p[0] % 2 == 0 && p[1] % 2 == 0 ? 255 : 0; });
    const auto components = getConnectedComponents2(img, labels);
    ASSERT_EQ(components.size(), 90000u);
    std::vector<int> seen;
    for (const tarvek::ConnectedComponent& c : components)
        seen.push_back(labels.at<ushort>(c.seed));
    const std::vector<int> expected = {254, 256, 301, 65535, 1};  // wrapped, 0 skipped
    EXPECT_EQ(std::vector<int>({seen[253], seen[254], seen[299], seen[65533], seen[65534]}), expected);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 255) + std::count(seen.begin(), seen.end(), 0), 0);
}

TEST(ConnectedComponents, BadInputsGiveTheFailureValue) {
    cv::Mat grey = cv::Mat::zeros(4, 5, CV_8UC1), labels(4, 5, CV_16UC1, cv::Scalar(255));
    int count = -1;
    for (const cv::Point& seed : {cv::Point(-1, 0), cv::Point(0, -1), cv::Point(5, 0), cv::Point(0, 4)})
        EXPECT_TRUE(getLabelRect(grey, seed.x, seed.y, &count, true, 0, nullptr).empty());
    EXPECT_TRUE(getLabelRect(grey, 0, 0, &count, 1, nullptr).empty());  // value is the mark
    EXPECT_TRUE(getLabelRect2(labels, 0, 0, &count, 255).empty());
    EXPECT_TRUE(getLabelRect2(grey, 0, 0, &count, 3).empty());  // not 16-bit
    EXPECT_EQ(count, 0);
    EXPECT_EQ(cv::countNonZero(grey) + cv::countNonZero(labels != 255), 0);

    for (cv::Mat img : {cv::Mat(), cv::Mat(3, 3, CV_16UC1, cv::Scalar(255)),
                        cv::Mat(3, 3, CV_32FC1, cv::Scalar(255)), cv::Mat(3, 3, CV_8UC2, cv::Scalar(255))}) {
        EXPECT_TRUE(getConnectedComponents(img, true, true).empty());
        EXPECT_TRUE(getConnectedComponents2(img, labels).empty());
        EXPECT_TRUE(labels.empty());
    }
}
