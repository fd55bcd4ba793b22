// The reading routes over real HTTP on loopback, on a printed receipt: its
// lines and fields in both body forms, the options' mistakes, a page without
// text, the reading pool's 503 while the rest of the server answers, and the
// rectify route's upright option.

#include "base64.h"
#include "http/logger.h"
#include "http_client.h"
#include "receipt_image.h"
#include "routes.h"
#include "weighted_edit_distance.h"

#include <boost/json.hpp>
#include <boost/locale/encoding_utf.hpp>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fstream>
#include <future>

namespace {

namespace json = boost::json;
namespace bhttp = testhttp::bhttp;
using namespace std::chrono_literals;

std::string encoded(const cv::Mat& image, const std::string& extension = ".png")
{
    std::vector<uchar> bytes;
    cv::imencode(extension, image, bytes);
    return std::string(bytes.begin(), bytes.end());
}

std::string withImage(const std::string& bytes, json::object options = {})
{
    options["image"] = macaron::Base64::Encode(bytes);
    return json::serialize(options);
}

// Plain edit distance of two UTF-8 texts, in characters.
float distance(const std::string& a, const std::string& b)
{
    using boost::locale::conv::utf_to_utf;
    return tarvek::WeightedEditDistance().GetDictance(utf_to_utf<wchar_t>(a), utf_to_utf<wchar_t>(b), false,
                                                      tarvek::ConfusionMatrixType{});
}

std::string fileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

const std::string& receipt()
{
    static const std::string bytes = fileBytes(testreceipt::path);
    return bytes;
}

class ReadingRoutes : public ::testing::Test {
protected:
    explicit ReadingRoutes(const tarvek::http::PoolLimits& readingPool = tarvek::service::readingPoolLimits())
    {
        tarvek::http::logger::setHandler(&log);
        app.observe(arrivals);
        tarvek::service::RouteOptions options;
        options.readingPool = readingPool;
        tarvek::service::addRoutes(app, options);
        server.emplace(app);
    }
    ~ReadingRoutes() override
    {
        server.reset();
        tarvek::http::logger::setHandler(nullptr);
    }

    testhttp::Reply post(const std::string& target, const std::string& body)
    {
        return testhttp::post(server->port(), target, body);
    }
    json::object answerOf(const std::string& target, const std::string& body)
    {
        const auto reply = post(target, body);
        EXPECT_EQ(reply.result_int(), 200) << target << " " << reply.body();
        EXPECT_EQ(reply[bhttp::field::content_type], "application/json");
        return json::parse(reply.body()).as_object();
    }

    testhttp::RecordingLog log;
    std::shared_ptr<testhttp::Arrivals> arrivals = std::make_shared<testhttp::Arrivals>();
    tarvek::http::App app;
    std::optional<testhttp::RunningServer> server;
};

void expectBoxInside(const json::value& box, cv::Size image)
{
    ASSERT_EQ(box.as_array().size(), 4u) << box;
    const cv::Rect rect(box.at(0).to_number<int>(), box.at(1).to_number<int>(), box.at(2).to_number<int>(),
                        box.at(3).to_number<int>());
    EXPECT_TRUE(rect.width > 0 && rect.height > 0 && (rect & cv::Rect({}, image)) == rect) << box;
}

TEST_F(ReadingRoutes, ReadAnswersEachPrintedLineWithItsBoxAndWordsInEitherBodyForm)
{
    const cv::Size size = testreceipt::receiptImage().size();
    // "+" in a query is a space: both join languages.
    for (const std::string& body : {receipt(), withImage(receipt(), {{"lang", "eng"}, {"deadline_ms", 30000}})}) {
        const json::object answer = answerOf("/v1/document/read?rectify=false&lang=kor+eng", body);
        const json::array& lines = answer.at("lines").as_array();
        ASSERT_EQ(lines.size(), testreceipt::printedLines().size()) << answer;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const json::object& line = lines[i].as_object();
            const std::string text(line.at("text").as_string());
            EXPECT_LE(distance(text, testreceipt::printedLines()[i]), 2) << text;
            expectBoxInside(line.at("box"), size);
            const double confidence = line.at("confidence").to_number<double>();
            EXPECT_TRUE(confidence > 0 && confidence <= 1) << confidence;
            ASSERT_FALSE(line.at("words").as_array().empty());
            for (const json::value& word : line.at("words").as_array())
                expectBoxInside(word.at("box"), size);
        }
        EXPECT_EQ(answer.at("cut_short"), false);
        EXPECT_TRUE(answer.at("not_read").is_null());
        EXPECT_EQ(answer.at("page_found"), false);
        EXPECT_TRUE(answer.at("corners").as_array().empty());
        EXPECT_EQ(answer.at("rotation"), 0);
        EXPECT_EQ(answer.at("width"), size.width);
        EXPECT_EQ(answer.at("height"), size.height);
        EXPECT_TRUE(answer.at("elapsed_ms").is_int64());
    }
}

TEST_F(ReadingRoutes, FieldsAnswerTheFourFieldsAndTheLinesOnlyWhenAskedFor)
{
    for (const auto& [target, withLines] : std::vector<std::pair<std::string, bool>>{
             {"/v1/receipt/fields?lang=eng", false},
             {"/v1/receipt/fields?lang=eng&lines=true", true},
             {"/v1/receipt/fields?lang=kor%2Beng&lines=0", false}}) {
        const json::object answer = answerOf(target, receipt());
        EXPECT_EQ(answer.contains("lines"), withLines) << target;
        EXPECT_LE(distance(std::string(answer.at("business_name").at("value").as_string()), testreceipt::businessName),
                  2)
            << answer;
        for (const auto& [field, value] : std::vector<std::pair<const char*, std::string>>{
                 {"telephone", testreceipt::telephone}, {"date", testreceipt::date}, {"total", testreceipt::total}}) {
            ASSERT_TRUE(answer.at(field).is_object()) << field << " " << answer;
            EXPECT_EQ(answer.at(field).at("value").as_string(), value) << field;
            EXPECT_FALSE(answer.at(field).at("text").as_string().empty());
            expectBoxInside(answer.at(field).at("box"), testreceipt::receiptImage().size());
        }
        EXPECT_TRUE(answer.at("total").at("currency").is_null());
    }
    const auto metrics = testhttp::request(server->port(), bhttp::verb::get, "/metrics").body();
    EXPECT_NE(metrics.find(R"(tarvek_http_requests_total{route="/v1/receipt/fields",status="200"} 3)"),
              std::string::npos);
}

TEST_F(ReadingRoutes, APhotographedReceiptIsFlattenedBeforeItIsRead)
{
    const json::object answer = answerOf("/v1/document/read?lang=eng", fileBytes(testreceipt::photoPath));
    ASSERT_EQ(answer.at("page_found"), true) << answer;
    for (std::size_t i = 0; i < 4; ++i) {
        const cv::Point corner(answer.at("corners").at(i).at(0).to_number<int>(),
                               answer.at("corners").at(i).at(1).to_number<int>());
        EXPECT_LE(cv::norm(corner - testreceipt::photoCorners[i]), 3) << i;
    }
    const json::array& lines = answer.at("lines").as_array();
    ASSERT_EQ(lines.size(), testreceipt::printedLines().size()) << answer;
    // Boxes in the photo's pixels: inside the receipt's quadrangle there.
    for (const json::value& line : lines) {
        const json::array& box = line.at("box").as_array();
        const cv::Point2f centre(box[0].to_number<float>() + box[2].to_number<float>() / 2,
                                 box[1].to_number<float>() + box[3].to_number<float>() / 2);
        EXPECT_GT(cv::pointPolygonTest(testreceipt::photoCorners, centre, false), 0) << line;
    }
    const json::object fields = answerOf("/v1/receipt/fields?lang=eng", fileBytes(testreceipt::photoPath));
    EXPECT_EQ(fields.at("total").at("value").as_string(), testreceipt::total) << fields;
}

// A blank page is read and has nothing; a page of scattered dots is not read, and says so.
TEST_F(ReadingRoutes, APageWithoutTextAnswersNoLinesAndNullFieldsAndWhyWhenNotRead)
{
    cv::Mat blank(600, 400, CV_8UC3, cv::Scalar::all(240)), dots(2000, 2000, CV_32F);
    cv::RNG(5).fill(dots, cv::RNG::UNIFORM, 0, 1);
    const std::pair<std::string, json::value> cases[] = {{encoded(blank, ".jpg"), nullptr},
                                                         {encoded(dots >= 0.03), "noise"}};
    for (const auto& [page, notRead] : cases) {
        const json::object read = answerOf("/v1/document/read", page);
        EXPECT_TRUE(read.at("lines").as_array().empty());
        EXPECT_EQ(read.at("not_read"), notRead);
        const json::object fields = answerOf("/v1/receipt/fields?lines=true", page);
        for (const char* field : {"business_name", "telephone", "date", "total"})
            EXPECT_TRUE(fields.at(field).is_null()) << field;
        EXPECT_TRUE(fields.at("lines").as_array().empty());
        EXPECT_EQ(fields.at("not_read"), notRead);
    }
}

// A line of text 120000 pixels long, or a column 100000 pixels tall: past OpenCV's and the
// engine's sides at any legible size.
std::string longLine(bool column)
{
    cv::Mat line(60, 120000, CV_8UC1, cv::Scalar(255));
    for (int x = 10; x + 600 < line.cols; x += 640)
        cv::putText(line, "TOTAL 7.70 BREAD 4.50", {x, 44}, cv::FONT_HERSHEY_SIMPLEX, 1.2, cv::Scalar(0), 2);
    if (column)
        cv::rotate(line(cv::Rect(0, 0, 100000, 60)), line, cv::ROTATE_90_CLOCKWISE);
    return encoded(line);
}

TEST_F(ReadingRoutes, MistakesAreAnsweredWithTheirStatusAndCode)
{
    struct Case {
        std::string target, body;
        int status;
        std::string code, mentions;
    };
    const std::string route = "/v1/document/read";
    for (const auto& [target, body, status, code, mentions] : std::vector<Case>{
             {route + "?lang=xyz", receipt(), 400, "bad_option", "installed: deu, eng, kor"},
             {route + "?lang=eng%2Beng", receipt(), 400, "bad_option", "more than once"},
             {route + "?lang=eng%2B", receipt(), 400, "bad_option", "installed"},
             {route, withImage(receipt(), {{"lang", 5}}), 400, "bad_option", "text"},
             {route + "?deadline_ms=50", receipt(), 400, "bad_option", "100 to 60000"},
             {route + "?deadline_ms=60001", receipt(), 400, "bad_option", "100 to 60000"},
             {route + "?rectify=maybe", receipt(), 400, "bad_option", "true or false"},
             {route, withImage(receipt(), {{"upright", "yes"}}), 400, "bad_option", "true or false"},
             {route + "?lines=true", receipt(), 400, "unknown_option", "lines"},
             {"/v1/receipt/fields?lines=2", receipt(), 400, "bad_option", "true or false"},
             {"/v1/receipt/fields?format=png", receipt(), 400, "unknown_option", "format"},
             {route, "", 400, "not_an_image", ""},
             {route, "plain words, no image", 415, "unsupported_media_type", ""},
             {"/v1/receipt/fields", R"({"image": "not base64!"})", 400, "bad_base64", ""},
             {route, longLine(false), 422, "unreadable", ""},
             {"/v1/receipt/fields", longLine(true), 422, "unreadable", ""}}) {
        const auto reply = post(target, body);
        EXPECT_EQ(reply.result_int(), status) << target << " " << reply.body();
        const json::value error = json::parse(reply.body()).at("error");
        EXPECT_EQ(error.at("code"), code.c_str()) << target;
        EXPECT_NE(std::string(error.at("message").as_string()).find(mentions), std::string::npos) << reply.body();
    }
}

TEST_F(ReadingRoutes, RectifyTurnsThePageUprightWhenAsked)
{
    cv::Mat upsideDown;
    cv::rotate(testreceipt::receiptImage(), upsideDown, cv::ROTATE_180);
    const cv::Size size = upsideDown.size();
    const json::object options{
        {"corners", json::array{json::array{0, 0}, json::array{size.width - 1, 0},
                                json::array{size.width - 1, size.height - 1}, json::array{0, size.height - 1}}},
        {"format", "png"}};
    cv::Mat grey;
    cv::cvtColor(testreceipt::receiptImage(), grey, cv::COLOR_BGR2GRAY);
    for (const bool upright : {false, true}) {
        json::object asked = options;
        asked["upright"] = upright;
        const auto reply = post("/v1/document/rectify", withImage(encoded(upsideDown), asked));
        ASSERT_EQ(reply.result_int(), 200) << reply.body();
        cv::Mat page = cv::imdecode(std::vector<uchar>(reply.body().begin(), reply.body().end()), cv::IMREAD_GRAYSCALE);
        cv::resize(page, page, grey.size());
        // The turned page matches the receipt as printed; the one left as it was does not.
        const double difference = cv::norm(page, grey, cv::NORM_L1) / static_cast<double>(grey.total());
        EXPECT_EQ(difference < 10, upright) << difference;
    }
}

// A client that leaves while its page is read stops the reading: the thread is free for the
// next page at once, not after the page, and the line says 499.
TEST_F(ReadingRoutes, AClientLeavingStopsItsReading)
{
    const std::string page = encoded(testreceipt::crowdedReceipts(10, 8));
    const auto port = server->port();
    const auto cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<testhttp::tcp::socket> leaving;
    testhttp::asio::io_context context;
    for (unsigned i = 0; i < cores; ++i) { // every reading thread busy
        leaving.push_back(testhttp::connectTo(context, port));
        testhttp::asio::write(leaving.back(),
                              testhttp::asio::buffer("POST /v1/document/read?lang=eng&rectify=false&upright=false"
                                                     "&deadline_ms=60000 HTTP/1.1\r\nContent-Length: " +
                                                     std::to_string(page.size()) + "\r\n\r\n" + page));
    }
    ASSERT_TRUE(testhttp::eventually([&] { return arrivals->count.load() >= static_cast<int>(cores); }));
    std::this_thread::sleep_for(1500ms); // decoded, into their reading
    leaving.clear();
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(answerOf("/v1/document/read?rectify=false&lang=eng", receipt()).at("lines").as_array().size(),
              testreceipt::printedLines().size());
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 4s) << "the pages of the clients gone were read on";
    EXPECT_TRUE(log.contains(tarvek::http::LogLevel::Warning, "POST /v1/document/read?lang=eng&rectify=false"
                                                              "&upright=false&deadline_ms=60000 499"))
        << log.text();
}

// One reading thread and one place in its queue.
class FullReadingPool : public ReadingRoutes {
protected:
    FullReadingPool() : ReadingRoutes({1, {1}, 2, "reading"}) {}
};

// Twelve receipts on one page: seventy-two lines take far longer than a second to read.
std::string crowdedPage()
{
    return encoded(testreceipt::crowdedReceipts(4, 3));
}

// The pool's thread reads; a second read waits, and its deadline passes before
// the first is done: answered 503 then, never started. A third finds the queue full.
TEST_F(FullReadingPool, AFullPoolAnswers503WhileHealthAndTheOtherToolsAnswer)
{
    const std::string slow = crowdedPage();
    const auto port = server->port();
    const auto read = [port, &slow](int deadline) {
        return std::async(std::launch::async, [port, &slow, deadline] {
            return testhttp::post(port,
                                  "/v1/document/read?lang=eng&rectify=false&upright=false&deadline_ms=" +
                                      std::to_string(deadline),
                                  slow);
        });
    };
    auto running = read(3000);
    ASSERT_TRUE(testhttp::eventually([&] { return arrivals->count.load() >= 1; }));
    const auto sent = std::chrono::steady_clock::now();
    auto waiting = read(1000);
    // The server has one event loop: a request it has begun is on the pool before it reads the next.
    ASSERT_TRUE(testhttp::eventually([&] { return arrivals->count.load() >= 2; }));

    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/v1/health").result_int(), 200);
    cv::Mat page(300, 300, CV_8UC3, cv::Scalar::all(200));
    EXPECT_EQ(post("/v1/document/detect", encoded(page, ".jpg")).result_int(), 200);
    // Refused after those: the pool was full all the while they were answered.
    const auto refused = post("/v1/receipt/fields", receipt());
    ASSERT_EQ(refused.result_int(), 503) << refused.body();
    EXPECT_EQ(refused[bhttp::field::retry_after], "2");
    EXPECT_EQ(json::parse(refused.body()).at("error").at("code"), "busy");
    EXPECT_NE(json::parse(refused.body()).at("error").at("message").as_string().find("reading"), std::string::npos);

    const auto late = waiting.get();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2500ms) << "answered before the first read ended";
    EXPECT_EQ(late.result_int(), 503);
    EXPECT_EQ(json::parse(late.body()).at("error").at("code"), "deadline_passed");
    EXPECT_TRUE(log.contains(tarvek::http::LogLevel::Warning, "503 (the deadline passed while it waited)"));
    const auto answer = running.get();
    EXPECT_EQ(answer.result_int(), 200);
    EXPECT_EQ(json::parse(answer.body()).at("cut_short"), true);
}

} // namespace
