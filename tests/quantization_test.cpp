#include "imageprocessing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace tarvek::imageprocessing;

namespace {

cv::Mat rowOf(std::initializer_list<int> values)
{
    cv::Mat row(1, static_cast<int>(values.size()), CV_8UC1);
    int x = 0;
    for (int v : values)
        row.at<uchar>(0, x++) = static_cast<uchar>(v);
    return row;
}

// Every grey value in one column: no pixel passes its error on.
cv::Mat allGreyValuesInOneColumn()
{
    cv::Mat column(256, 1, CV_8UC1);
    for (int i = 0; i < 256; ++i)
        column.at<uchar>(i, 0) = static_cast<uchar>(i);
    return column;
}

bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

}  // namespace

TEST(DitheringQuantization, LevelsAreMultiplesOfTheIntegerStep)
{
    const cv::Mat column = allGreyValuesInOneColumn();
    const cv::Mat four = cluster_with_N_with_dithering2(column, 4);
    EXPECT_EQ(four.at<uchar>(42, 0), 0);
    EXPECT_EQ(four.at<uchar>(43, 0), 85);
    EXPECT_EQ(four.at<uchar>(127, 0), 85);
    EXPECT_EQ(four.at<uchar>(128, 0), 170);
    EXPECT_EQ(four.at<uchar>(213, 0), 255);

    const cv::Mat three = cluster_with_N_with_dithering2(column, 3);  // step 127
    EXPECT_EQ(three.at<uchar>(63, 0), 0);
    EXPECT_EQ(three.at<uchar>(64, 0), 127);
    EXPECT_EQ(three.at<uchar>(190, 0), 127);
    EXPECT_EQ(three.at<uchar>(191, 0), 254);
    EXPECT_EQ(three.at<uchar>(255, 0), 254);

    EXPECT_TRUE(sameImage(cluster_with_N_with_dithering2(column, 256), column));
    EXPECT_TRUE(sameImage(cluster_with_N_with_dithering2(column, 1000), column));
}

TEST(DitheringQuantization, TwoLevelsOnUniformGreyGiveBlackAndWhite)
{
    const cv::Mat grey(32, 32, CV_8UC1, cv::Scalar(128));
    const cv::Mat result = cluster_with_N_with_dithering2(grey, 2);
    ASSERT_EQ(result.size(), grey.size());
    ASSERT_EQ(result.type(), CV_8UC1);
    const int white = cv::countNonZero(result == 255);
    EXPECT_EQ(white + cv::countNonZero(result == 0), 32 * 32);
    EXPECT_GT(white, 0);
    EXPECT_LT(white, 32 * 32);
    EXPECT_TRUE(sameImage(grey, cv::Mat(32, 32, CV_8UC1, cv::Scalar(128))));  // input untouched
}

TEST(DitheringQuantization, ErrorGoesRightAndToTheRowBelow)
{
    // n = 2: the error 100 of pixel (0, 1) makes (0, 2) 144 -> 255 and the row
    // below 119, 131, 106 -> 0, 255, 0. The first column passes nothing on.
    cv::Mat dark(2, 3, CV_8UC1, cv::Scalar(100));
    const cv::Mat expectedDark = (cv::Mat_<uchar>(2, 3) << 0, 0, 255, 0, 255, 0);
    EXPECT_TRUE(sameImage(cluster_with_N_with_dithering2(dark, 2), expectedDark));

    // n = 3 (levels 0, 127, 254): the error -54 gives 176 -> 127 and 190, 183, 197.
    cv::Mat light(2, 3, CV_8UC1, cv::Scalar(200));
    const cv::Mat expectedLight = (cv::Mat_<uchar>(2, 3) << 254, 254, 127, 127, 127, 254);
    EXPECT_TRUE(sameImage(cluster_with_N_with_dithering2(light, 3), expectedLight));
}

TEST(DitheringQuantization, UnusableLevelCountReturnsACopy)
{
    const cv::Mat column = allGreyValuesInOneColumn();
    for (int n : {1, 0, -3}) {
        const cv::Mat result = cluster_with_N_with_dithering2(column, n);
        EXPECT_TRUE(sameImage(result, column));
        EXPECT_NE(result.data, column.data);
    }
}

TEST(SgiQuantization, CarriesLowBitsAlongTheRow)
{
    cv::Mat row = rowOf({0, 100, 100, 100, 100});
    cluster_with_SGI(row);
    EXPECT_TRUE(sameImage(row, rowOf({0, 96, 96, 96, 112})));

    cv::Mat ends = rowOf({123, 250, 40, 64, 208, 224});
    cluster_with_SGI(ends);
    // 250 -> 240 -> 255 leaves carry 10; 40 + 10 -> 48 -> 0 leaves 2; 64 + 2 -> 64.
    EXPECT_TRUE(sameImage(ends, rowOf({123, 255, 0, 64, 208, 255})));

    // At 240 and above the carry is not added (108 leaves 12, which 240 ignores).
    cv::Mat nearWhite = rowOf({0, 108, 240, 100});
    cluster_with_SGI(nearWhite);
    EXPECT_TRUE(sameImage(nearWhite, rowOf({0, 96, 255, 96})));
}

TEST(SgiQuantization, ChangesTheCallersPixelsOnly)
{
    cv::Mat image(3, 4, CV_8UC1, cv::Scalar(100));
    cluster_with_SGI(image(cv::Rect(0, 1, 4, 1)));
    EXPECT_EQ(image.at<uchar>(0, 1), 100);
    EXPECT_EQ(image.at<uchar>(1, 0), 100);
    EXPECT_EQ(image.at<uchar>(1, 1), 96);
    EXPECT_EQ(image.at<uchar>(1, 3), 96);  // each row starts with carry 0
    EXPECT_EQ(image.at<uchar>(2, 1), 100);
}

TEST(ImageChecks, NeedBinarizationFindsAnyGreyPixel)
{
    cv::Mat binary(5, 7, CV_8UC1, cv::Scalar(255));
    binary(cv::Rect(2, 2, 3, 2)).setTo(0);
    EXPECT_FALSE(isNeedBinarization(binary));
    for (int grey : {1, 254}) {
        cv::Mat image = binary.clone();
        image.at<uchar>(4, 6) = static_cast<uchar>(grey);
        EXPECT_TRUE(isNeedBinarization(image));
    }
    cv::Mat empty;
    EXPECT_FALSE(isNeedBinarization(empty));

    cv::Mat framed(6, 6, CV_8UC1, cv::Scalar(77));
    cv::Mat inside = framed(cv::Rect(1, 1, 4, 4));
    inside.setTo(0);
    EXPECT_FALSE(isNeedBinarization(inside));
}

TEST(ImageChecks, FileExistsOnlyForReadableFiles)
{
    const std::string path = ::testing::TempDir() + "quantization_test_" + std::to_string(getpid());
    std::remove(path.c_str());
    EXPECT_FALSE(is_file_exists(path.c_str()));
    EXPECT_FALSE(is_file_exists(nullptr));
    std::ofstream(path) << "x";
    EXPECT_TRUE(is_file_exists(path.c_str()));
    std::remove(path.c_str());

    cv::Mat image(4, 4, CV_8UC1, cv::Scalar(9));
    EXPECT_EQ(saveTiffFromMat(image, path.c_str(), 0), 0);
    EXPECT_FALSE(is_file_exists(path.c_str()));
}
