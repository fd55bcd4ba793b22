// The document-tool, health and metrics routes over real HTTP on loopback,
// on a synthetic photograph of a page with known corners.

#include "base64.h"
#include "binarization_methods.h"
#include "document_search.h"
#include "http/logger.h"
#include "http_client.h"
#include "named_table.h"
#include "routes.h"
#include "test_images.h"
#include "version.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>

namespace {

using tarvek::http::LogLevel;
namespace json = boost::json;
namespace bhttp = testhttp::bhttp;
using Corners = std::vector<cv::Point>;

const cv::Size photoSize(1600, 1200);
const Corners page = {{360, 100}, {1216, 168}, {1296, 1116}, {280, 1056}};
// The library's page for these corners, which every interface makes.
const cv::Size flatSize = tarvek::documentsearch::pageSize(page, photoSize, {});

std::string jpegOf(const cv::Mat& image)
{
    std::vector<uchar> bytes;
    cv::imencode(".jpg", image, bytes);
    return std::string(bytes.begin(), bytes.end());
}

cv::Mat decoded(const std::string& bytes)
{
    return cv::imdecode(cv::Mat(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data())),
                        cv::IMREAD_UNCHANGED);
}

std::string withImage(const std::string& bytes, json::object options = {})
{
    options["image"] = macaron::Base64::Encode(bytes);
    return json::serialize(options);
}

class DocumentTools : public ::testing::Test {
protected:
    DocumentTools()
    {
        tarvek::http::logger::setHandler(&log);
        tarvek::service::addRoutes(app);
        server.emplace(app);
    }
    ~DocumentTools() override
    {
        server.reset();
        tarvek::http::logger::setHandler(nullptr);
    }

    testhttp::Reply post(const std::string& target, const std::string& body, const std::string& accept = {},
                         const std::string& contentType = {})
    {
        testhttp::Headers headers;
        if (!accept.empty())
            headers.emplace_back(bhttp::field::accept, accept);
        if (!contentType.empty())
            headers.emplace_back(bhttp::field::content_type, contentType);
        return testhttp::request(server->port(), bhttp::verb::post, target, body, headers);
    }

    static const std::string& photo()
    {
        static const std::string bytes = jpegOf(photographedPage(photoSize, page));
        return bytes;
    }

    testhttp::RecordingLog log;
    tarvek::http::App app;
    std::optional<testhttp::RunningServer> server;
};

TEST_F(DocumentTools, DetectFindsThePageInEitherBodyForm)
{
    const double tolerance = 0.03 * std::hypot(photoSize.width, photoSize.height);
    struct Case {
        std::string target, body, strategy;
    };
    for (const auto& [target, body, strategy] : std::vector<Case>{
             {"/v1/document/detect", photo(), "auto"},
             {"/v1/document/detect?strategy=gray&kind=any", photo(), "gray"},
             {"/v1/document/detect", withImage(photo(), {{"strategy", "hsv"}}), "hsv"},
             {"/v1/document/detect", withImage(photo()), "auto"}}) {
        const auto reply = post(target, body);
        ASSERT_EQ(reply.result_int(), 200) << target << reply.body();
        EXPECT_EQ(reply[bhttp::field::content_type], "application/json");
        const json::object answer = json::parse(reply.body()).as_object();
        ASSERT_TRUE(answer.at("found").as_bool()) << reply.body();
        EXPECT_EQ(answer.at("width"), photoSize.width);
        EXPECT_EQ(answer.at("height"), photoSize.height);
        EXPECT_TRUE(answer.at("elapsed_ms").is_int64());
        EXPECT_EQ(answer.at("strategy").as_string(), strategy);
        // Only the page search rates its corners, and refines them to sub-pixel precision.
        EXPECT_EQ(answer.contains("confidence"), strategy == "auto");
        if (strategy == "auto") {
            const double confidence = answer.at("confidence").to_number<double>();
            EXPECT_TRUE(confidence > 0 && confidence <= 1) << confidence;
            for (std::size_t k = 0; k < 4; ++k)
                for (std::size_t axis = 0; axis < 2; ++axis)
                    EXPECT_LE(std::abs(answer.at("corners_subpixel").at(k).at(axis).to_number<double>() -
                                       answer.at("corners").at(k).at(axis).as_int64()),
                              0.5);
        }
        const auto& corners = answer.at("corners").as_array();
        ASSERT_EQ(corners.size(), 4u);
        for (std::size_t k = 0; k < 4; ++k) {
            const cv::Point found(json::value_to<int>(corners[k].at(0)), json::value_to<int>(corners[k].at(1)));
            EXPECT_LE(cv::norm(found - page[k]), tolerance) << target << " corner " << k;
        }
    }
}

// A large JPEG is searched at a reduced size: the answer is in the full photo's pixels.
TEST_F(DocumentTools, DetectOfALargeJpegAnswersInTheFullPhotosPixels)
{
    const cv::Size large(3200, 2400);
    Corners scaled;
    for (const cv::Point& corner : page)
        scaled.push_back(corner * 2);
    const auto reply = post("/v1/document/detect", jpegOf(photographedPage(large, scaled)));
    ASSERT_EQ(reply.result_int(), 200);
    const json::object answer = json::parse(reply.body()).as_object();
    EXPECT_EQ(answer.at("width"), large.width);
    EXPECT_EQ(answer.at("height"), large.height);
    ASSERT_TRUE(answer.at("found").as_bool()) << reply.body();
    const double tolerance = 0.01 * std::hypot(large.width, large.height);
    for (std::size_t k = 0; k < 4; ++k) {
        const cv::Point2d found(answer.at("corners_subpixel").at(k).at(0).to_number<double>(),
                                answer.at("corners_subpixel").at(k).at(1).to_number<double>());
        EXPECT_LE(cv::norm(found - cv::Point2d(scaled[k])), tolerance) << "corner " << k;
    }
}

TEST_F(DocumentTools, DetectAnswersNotFoundOnAnEmptyDesk)
{
    const cv::Mat desk(600, 800, CV_8UC3, cv::Scalar(80, 90, 100));
    const auto reply = post("/v1/document/detect?strategy=compare", jpegOf(desk));
    ASSERT_EQ(reply.result_int(), 200);
    const json::object answer = json::parse(reply.body()).as_object();
    EXPECT_FALSE(answer.at("found").as_bool());
    EXPECT_EQ(answer.at("strategy"), "compare");
    EXPECT_FALSE(answer.contains("corners"));
}

TEST_F(DocumentTools, RectifyAnswersTheChosenFormat)
{
    struct Case {
        std::string query, accept, mediaType;
    };
    for (const Case& c : std::vector<Case>{{"", "", "image/jpeg"},
                                           {"?format=png", "image/webp", "image/png"},
                                           {"", "image/png;q=0.5, image/webp", "image/webp"},
                                           {"", "text/html;q=0.9, */*;q=0.1", "image/jpeg"}}) {
        const auto reply = post("/v1/document/rectify" + c.query, photo(), c.accept);
        ASSERT_EQ(reply.result_int(), 200) << c.query << " " << c.accept << reply.body();
        EXPECT_EQ(reply[bhttp::field::content_type], c.mediaType);
        const cv::Mat flat = decoded(reply.body());
        EXPECT_NEAR(flat.cols, flatSize.width, 0.03 * flatSize.width);
        EXPECT_NEAR(flat.rows, flatSize.height, 0.03 * flatSize.height);
    }
}

TEST_F(DocumentTools, RectifyTakesGivenCornersAsJsonOrQuery)
{
    const json::array corners = {json::array{360, 100}, json::array{1216, 168}, json::array{1296, 1116},
                                 json::array{280, 1056}};
    for (const auto& reply : {post("/v1/document/rectify?format=png", withImage(photo(), {{"corners", corners}})),
                              post("/v1/document/rectify?corners=360,100,1216,168,1296,1116,280,1056", photo())}) {
        ASSERT_EQ(reply.result_int(), 200) << reply.body();
        const cv::Mat flat = decoded(reply.body());
        EXPECT_EQ(flat.size(), flatSize);
    }
}

TEST_F(DocumentTools, RectifyPutsGivenCornersInOrderWhateverOrderTheyCameIn)
{
    std::vector<int> order = {0, 1, 2, 3};
    const std::string expected = post("/v1/document/rectify?format=png&corners=360,100,1216,168,1296,1116,280,1056",
                                      photo()).body();
    ASSERT_FALSE(expected.empty());
    do {
        std::string corners;
        for (const int k : order)
            corners += (corners.empty() ? "" : ",") + std::to_string(page[k].x) + "," + std::to_string(page[k].y);
        const auto reply = post("/v1/document/rectify?format=png&corners=" + corners, photo());
        ASSERT_EQ(reply.result_int(), 200) << corners;
        EXPECT_TRUE(reply.body() == expected) << corners;
    } while (std::next_permutation(order.begin(), order.end()));
}

// What the encoders and the warp cannot take: a named format is refused, a
// default gives way to PNG.
TEST_F(DocumentTools, ImagesBeyondTheEncodersOrTheWarpAreAnswered422OrAsPng)
{
    // Light paper with a dark mark every 100 pixels.
    const auto pngOf = [](cv::Size size) {
        cv::Mat paper(size, CV_8UC3, cv::Scalar(200, 210, 220));
        for (int x = 10; x + 20 < size.width; x += 100)
            cv::rectangle(paper, cv::Rect(x, size.height / 4, 20, size.height / 2), cv::Scalar(30, 30, 30), cv::FILLED);
        std::vector<uchar> bytes;
        cv::imencode(".png", paper, bytes);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string wide = pngOf({16500, 8}), wider = pngOf({33000, 8});
    struct Case {
        std::string target, body, accept;
        int status;
        std::string answer; // the media type, or the error code
    };
    const std::string whole = "/v1/document/rectify?corners=0,0,16499,0,16499,7,0,7";
    for (const Case& c : std::vector<Case>{
             {whole + "&format=webp", wide, "", 422, "too_large_for_format"},
             {whole, wide, "image/webp", 422, "too_large_for_format"},
             {whole, wide, "IMAGE/WEBP;q=0.5, image/png;Q=0.4", 422, "too_large_for_format"},
             {whole, wide, "", 200, "image/jpeg"},
             {whole, wide, "image/*", 200, "image/jpeg"},
             {"/v1/document/rectify?corners=0,0,32999,0,32999,7,0,7", wider, "", 422, "page_too_large"},
             {"/v1/document/rectify?format=png&corners=32000,0,32999,0,32999,7,32000,7", wider, "", 200, "image/png"},
             {"/v1/document/clean", pngOf({65501, 64}), "", 200, "image/png"},
             {"/v1/document/binarize", pngOf({15, 400}), "", 422, "not_processable"},
             {"/v1/document/binarize?method=otsu", pngOf({15, 400}), "", 200, "image/png"},
         }) {
        const auto reply = post(c.target, c.body, c.accept);
        ASSERT_EQ(reply.result_int(), c.status) << c.target << " " << c.accept << reply.body();
        if (c.status == 200)
            EXPECT_EQ(reply[bhttp::field::content_type], c.answer) << c.target;
        else
            EXPECT_EQ(json::parse(reply.body()).at("error").at("code").as_string(), c.answer) << c.target;
    }
}

TEST_F(DocumentTools, BinarizeAndCleanAnswerImagesOfThePhotoSize)
{
    struct Case {
        std::string target, mediaType;
        int channels;
    };
    for (const Case& c : std::vector<Case>{
             {"/v1/document/binarize", "image/png", 1},
             {"/v1/document/binarize?method=auto&k=1", "image/png", 1},
             {"/v1/document/binarize?method=otsu", "image/png", 1},
             {"/v1/document/binarize?method=adaptive-otsu&block=8", "image/png", 1},
             {"/v1/document/binarize?method=sauvola&window=255&k=0", "image/png", 1},
             {"/v1/document/binarize?method=multiscale-sauvola&window=31&k=1&block=4", "image/png", 1},
             {"/v1/document/clean", "image/jpeg", 3}}) {
        const auto reply = post(c.target, photo());
        ASSERT_EQ(reply.result_int(), 200) << c.target << reply.body();
        EXPECT_EQ(reply[bhttp::field::content_type], c.mediaType);
        const cv::Mat image = decoded(reply.body());
        EXPECT_EQ(image.size(), photoSize) << c.target;
        EXPECT_EQ(image.channels(), c.channels) << c.target;
        if (c.channels == 1) {
            EXPECT_EQ(cv::countNonZero(image == 0) + cv::countNonZero(image == 255), image.total()) << c.target;
        }
    }
}

// The command line and the Python package binarize through the same table, so a
// method named without options gives the same image by every way in.
TEST_F(DocumentTools, BinarizeByNameGivesTheLibrarysImageWithItsDefaults)
{
    cv::Mat colour = decoded(photo());
    for (const tarvek::binarization::Method& method : tarvek::binarization::methods) {
        const auto reply = post(std::string("/v1/document/binarize?method=") + method.name, photo());
        ASSERT_EQ(reply.result_int(), 200) << method.name;
        cv::Mat expected;
        tarvek::binarization::binarizeNamed(method, colour, expected, method.defaults);
        EXPECT_EQ(cv::norm(decoded(reply.body()), expected, cv::NORM_INF), 0) << method.name;
    }
    // Without a method: auto.
    cv::Mat expected;
    tarvek::binarization::binarizeNamed(*tarvek::binarization::methodNamed("auto"), colour, expected,
                                        tarvek::binarization::methodNamed("auto")->defaults);
    const auto reply = post("/v1/document/binarize", photo());
    ASSERT_EQ(reply.result_int(), 200);
    EXPECT_EQ(cv::norm(decoded(reply.body()), expected, cv::NORM_INF), 0);
}

// The page offers every method of the table, auto first and chosen.
TEST(DocumentPage, OffersEveryBinarizationMethodWithAutoChosen)
{
    std::ifstream file(std::string(TARVEK_WWW_DIR) + "/index.html");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::smatch list;
    ASSERT_TRUE(std::regex_search(text, list, std::regex(R"re(<select id="doc-method">[^]*?</select>)re")));
    const std::string page = list.str();
    const std::regex option(R"re(<option value="([a-z-]+)"( selected)?>)re");
    std::vector<std::string> offered;
    std::string chosen;
    for (std::sregex_iterator it(page.begin(), page.end(), option), end; it != end; ++it) {
        offered.push_back((*it)[1]);
        if ((*it)[2].matched)
            chosen = (*it)[1];
    }
    std::vector<std::string> names = tarvek::namesOf(tarvek::binarization::methods);
    EXPECT_EQ(chosen, "auto");
    ASSERT_FALSE(offered.empty());
    EXPECT_EQ(offered.front(), "auto");
    std::sort(offered.begin(), offered.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(offered, names);
}

TEST_F(DocumentTools, MistakesAnswerJsonErrorsAndTheServerGoesOn)
{
    struct Case {
        std::string target, body, accept;
        int status;
        std::string code;
        std::string contentType = {};
    };
    const std::string blank = jpegOf(cv::Mat(600, 800, CV_8UC3, cv::Scalar(80, 90, 100)));
    const std::string detect = "/v1/document/detect", rectify = "/v1/document/rectify";
    const std::string binarize = "/v1/document/binarize";
    for (const Case& c : std::vector<Case>{
             {detect, "", "", 400, "not_an_image"},
             {detect, encodedImage(".png").substr(0, 60), "", 400, "not_an_image"},
             {detect, R"({"image":"abc!"})", "", 400, "bad_base64"},
             {detect, R"({"image":5})", "", 400, "bad_json"},
             {detect, "[1]", "", 400, "bad_json"},
             {detect + "?foo=1", photo(), "", 400, "unknown_option"},
             {detect + "?strategy=nope", photo(), "", 400, "bad_option"},
             {detect + "?kind=poster", photo(), "", 400, "bad_option"},
             {binarize + "?method=otsu&window=15", photo(), "", 400, "unknown_option"},
             {binarize + "?window=15", photo(), "", 400, "unknown_option"}, // auto reads only k
             {binarize + "?k=1.01", photo(), "", 400, "bad_option"},
             {binarize + "?k=-0.5", photo(), "", 400, "bad_option"},
             {binarize + "?method=sauvola&window=2", photo(), "", 400, "bad_option"},
             {binarize + "?method=sauvola&window=256", photo(), "", 400, "bad_option"},
             {binarize + "?method=sauvola&window=15.5", photo(), "", 400, "bad_option"},
             {binarize + "?method=sauvola&k=1.01", photo(), "", 400, "bad_option"},
             {binarize + "?method=adaptive-otsu&block=7", photo(), "", 400, "bad_option"},
             {binarize + "?method=multiscale-sauvola&block=256", photo(), "", 400, "bad_option"},
             {rectify + "?corners=1,2,3,4,5,6", photo(), "", 400, "bad_corners"},
             {rectify + "?corners=0,0,1600,0,1599,1199,0,1199", photo(), "", 400, "bad_corners"},
             {rectify + "?corners=0,0,800,0,1599,0,0,1199", photo(), "", 400, "bad_corners"},  // collinear
             {rectify + "?corners=0,0,1599,0,400,300,0,1199", photo(), "", 400, "bad_corners"}, // re-entrant
             {rectify + "?corners=abc,100,1216,168,1296,1116,280,1056", photo(), "", 400, "bad_corners"},
             {rectify + "?corners=0x64,100,1216,168,1296,1116,280,1056", photo(), "", 400, "bad_corners"},
             {rectify + "?corners=100abc,100,1216,168,1296,1116,280,1056", photo(), "", 400, "bad_corners"},
             {rectify + "?corners=360,100,1216,168,1296,1116,280,", photo(), "", 400, "bad_corners"},
             {detect, R"({"image":"AA)", "", 400, "bad_json", "application/json"},
             {detect, "NaN", "", 400, "bad_json", "Application/JSON; charset=utf-8"},
             {detect + "?%ff=1", photo(), "", 400, "unknown_option"}, // the answer must parse: valid UTF-8
             {rectify + "?format=gif", photo(), "", 400, "bad_option"},
             {rectify, photo(), "text/html", 406, "not_acceptable"},
             {rectify, blank, "", 422, "no_document"},
             {detect, hugeDeclaredPng(), "", 413, "image_too_large"},
             {detect, jpegWithTemBeforeHugeFrame(), "", 413, "image_too_large"},
             {detect, tiffWithLong8Width(60000, 50000), "", 413, "image_too_large"},
             {detect, "\xff\xd8" + jpegScan(3), "", 400, "not_an_image"},
             {detect, "hello", "", 415, "unsupported_media_type"},
             {detect, withImage(std::string(128, '\x01') + "DICM+}"), "", 415, "unsupported_media_type"},
         }) {
        const auto reply = post(c.target, c.body, c.accept, c.contentType);
        EXPECT_EQ(reply.result_int(), c.status) << c.target << " " << c.code;
        EXPECT_EQ(reply[bhttp::field::content_type], "application/json");
        const json::object error = json::parse(reply.body()).at("error").as_object();
        EXPECT_EQ(error.at("code").as_string(), c.code) << c.target;
        EXPECT_FALSE(error.at("message").as_string().empty());
    }
    EXPECT_TRUE(log.contains(LogLevel::Warning, "answered 400 bad_base64"));
    EXPECT_FALSE(log.contains(LogLevel::Error, ""));
    EXPECT_EQ(post("/v1/document/detect", photo()).result_int(), 200);
}

TEST_F(DocumentTools, HealthAnswersOkAndTheVersion)
{
    const auto reply = testhttp::request(server->port(), bhttp::verb::get, "/v1/health");
    ASSERT_EQ(reply.result_int(), 200);
    const json::object answer = json::parse(reply.body()).as_object();
    EXPECT_EQ(answer.at("status"), "ok");
    EXPECT_EQ(answer.at("version"), tarvek::version());
}

TEST_F(DocumentTools, MetricsCountEachRequestByRouteAndStatus)
{
    post("/v1/document/detect", photo());
    post("/v1/document/detect?foo=1", photo());
    testhttp::request(server->port(), bhttp::verb::get, "/nowhere");
    testhttp::rawExchange(server->port(), "POST /v1/document/clean HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n");
    const auto reply = testhttp::request(server->port(), bhttp::verb::get, "/metrics");
    ASSERT_EQ(reply.result_int(), 200);
    EXPECT_EQ(reply[bhttp::field::content_type], "text/plain; version=0.0.4; charset=utf-8");
    const std::string& text = reply.body();
    for (const std::string& line : std::vector<std::string>{
             "tarvek_http_requests_total{route=\"/v1/document/detect\",status=\"200\"} 1\n",
             "tarvek_http_requests_total{route=\"/v1/document/detect\",status=\"400\"} 1\n",
             "tarvek_http_requests_total{route=\"other\",status=\"404\"} 1\n",
             "tarvek_http_requests_total{route=\"/v1/document/clean\",status=\"413\"} 1\n",
             "tarvek_http_request_duration_seconds_bucket{route=\"/v1/document/detect\",le=\"+Inf\"} 2\n",
             "tarvek_http_request_duration_seconds_count{route=\"/v1/document/detect\"} 2\n",
             "# TYPE tarvek_http_request_duration_seconds histogram\n",
             "tarvek_http_requests_in_flight 1\n", // the metrics request itself
             "tarvek_http_request_body_bytes_total " + std::to_string(2 * photo().size()) + "\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

} // namespace
