// Built against an installed tarvek: searches the photo given for a document
// and binarizes it, printing the library's version and what it found.

#include <tarvek/binarization.h>
#include <tarvek/documentarea.h>
#include <tarvek/version.h>

#include <opencv2/imgcodecs.hpp>

#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    cv::Mat photo = cv::imread(argv[1]);
    if (photo.empty())
        return 1;
    std::vector<cv::Point> corners;
    tarvek::documentarea::find_compare_grayCanny_hsvCanny(photo, corners, 0, 0, 0, false, false, false);
    cv::Mat binary;
    const int threshold = tarvek::binarization::otsu(photo, binary);
    std::cout << "tarvek " << tarvek::version() << ": " << corners.size() << " corners, Otsu threshold " << threshold
              << '\n';
    return threshold >= 0 ? 0 : 1;
}
