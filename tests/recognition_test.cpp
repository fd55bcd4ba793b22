// The recognition routes over real HTTP on loopback, with real image decoding.

#include "base64.h"
#include "http/logger.h"
#include "http_client.h"
#include "recognition.h"
#include "routes.h"
#include "test_images.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

using tarvek::http::LogLevel;
namespace json = boost::json;

class RecognitionRoutes : public ::testing::Test {
protected:
    RecognitionRoutes()
    {
        tarvek::http::logger::setHandler(&log);
        tarvek::service::addRoutes(app);
        server.emplace(app);
    }
    ~RecognitionRoutes() override
    {
        server.reset();
        tarvek::http::logger::setHandler(nullptr);
    }

    json::object postJson(const std::string& target, const std::string& body)
    {
        const auto reply = testhttp::post(server->port(), target, body);
        EXPECT_EQ(reply.result_int(), 200);
        EXPECT_EQ(reply[testhttp::bhttp::field::content_type], "application/json");
        return json::parse(reply.body()).as_object();
    }

    static std::string imageJson(const std::string& base64) { return json::serialize(json::object{{"image", base64}}); }

    testhttp::RecordingLog log;
    tarvek::http::App app;
    std::optional<testhttp::RunningServer> server;
};

const std::vector<std::string> receiptFields = {"voraror 의정부 센터", "1577-5448", "2019-01-10", "420000", "0"};
const std::vector<std::string> estimateFields = {"dazudad", "1111-2222", "2019-01-12", "336000", "0"};

std::vector<std::string> fieldsOf(const json::object& response)
{
    std::vector<std::string> fields;
    for (const auto& field : response.at("fields").as_array())
        fields.emplace_back(field.as_string());
    return fields;
}

} // namespace

TEST_F(RecognitionRoutes, RawImageBodiesAreRecognisedAndEchoed)
{
    for (const std::string extension : {".png", ".jpg"}) {
        const std::string bytes = encodedImage(extension);
        const auto response = postJson("/recognize_receipt", bytes);
        EXPECT_EQ(response.size(), 3u);
        EXPECT_EQ(response.at("status"), 0);
        EXPECT_EQ(response.at("image").as_string(), macaron::Base64::Encode(bytes));
        EXPECT_EQ(fieldsOf(response), receiptFields);
    }
    EXPECT_TRUE(log.contains(LogLevel::Info, "recognition has been successfully completed. ("));
    EXPECT_TRUE(log.contains(LogLevel::Info, "mSec)"));
}

TEST_F(RecognitionRoutes, JsonBodiesAnswerTheCanonicalBase64)
{
    const std::string bytes = encodedImage(".png");
    const std::string base64 = macaron::Base64::Encode(bytes);
    auto response = postJson("/recognize_estimate", imageJson(base64));
    EXPECT_EQ(response.at("status"), 0);
    EXPECT_EQ(response.at("image").as_string(), base64);
    EXPECT_EQ(fieldsOf(response), estimateFields);

    // Other members are ignored.
    response = postJson("/recognize_receipt", json::serialize(json::object{{"image", base64}, {"kind", "x"}}));
    EXPECT_EQ(fieldsOf(response), receiptFields);
}

TEST_F(RecognitionRoutes, EverySpellingOfAnImageObjectGivesTheSameAnswer)
{
    const std::string base64 = macaron::Base64::Encode(encodedImage(".png"));
    std::string escapedSlashes; // JSON may write "/" as "\/"
    for (const char c : base64)
        escapedSlashes += c == '/' ? std::string("\\/") : std::string(1, c);
    ASSERT_NE(escapedSlashes, base64);
    const auto expected = postJson("/recognize_receipt", imageJson(base64));
    ASSERT_EQ(expected.at("status"), 0);
    for (const std::string& body : {
             "{\"image\":\"" + base64 + "\"}",
             " \r\n{ \"image\"\t:\n\"" + base64 + "\" } \n",
             "{\"image\":\"" + escapedSlashes + "\"}",
             "{\"\\u0069mage\":\"" + base64 + "\"}",
             "{\"image\":\"" + base64 + "\",\"image2\":1}",
             "{\"other\":[],\"image\":\"" + base64 + "\"}",
         })
        EXPECT_EQ(postJson("/recognize_receipt", body), expected) << body.substr(0, 24);

    // Not JSON: raw bytes of no photo format, which are accepted and echoed.
    for (const std::string& body : {"{\"image\":\"" + base64 + "\"} x", "{\"image\":\"" + base64 + "\",}",
                                    "{\"image\":\"" + base64, "{\"image\":\"" + base64 + "\"",
                                    "{\"image\":\"" + base64 + "\xff\"}"})
        EXPECT_EQ(postJson("/recognize_receipt", body).at("image").as_string(), macaron::Base64::Encode(body))
            << body.substr(0, 24);
}

TEST_F(RecognitionRoutes, ObjectsWithoutImageAnswerMinusOne)
{
    for (const std::string body : {"{}", "[]", "[1,2]", R"({"picture":"AAAA"})"}) {
        const auto response = postJson("/recognize_receipt", body);
        EXPECT_EQ(response, (json::object{{"status", -1}})) << body;
    }
    EXPECT_TRUE(log.contains(LogLevel::Error,
                             "request body isn't json. you should send base64 encoded image as request body"));
}

TEST_F(RecognitionRoutes, BytesThatCannotBeDecodedAnswerMinusTwo)
{
    for (const std::string& body : {std::string(), imageJson(""), imageJson("abc"), imageJson("Zm9vYmFy===")}) {
        const auto response = postJson("/recognize_estimate", body);
        EXPECT_EQ(response, (json::object{{"status", -2}})) << body;
    }
    EXPECT_TRUE(log.contains(LogLevel::Error,
                             "request body isn't image. you should send base64 encoded image as request body"));
}

TEST_F(RecognitionRoutes, UnknownBytesDecodeToNoImageWithoutError)
{
    const auto response = postJson("/recognize_receipt", "hello");
    EXPECT_EQ(response.at("status"), 0);
    EXPECT_EQ(response.at("image").as_string(), "aGVsbG8=");
}

TEST_F(RecognitionRoutes, NonStringImageAndScalarBodiesAnswer500)
{
    for (const std::string body : {R"({"image":5})", "5", "\"text\"", "true", "null"}) {
        const auto reply = testhttp::post(server->port(), "/recognize_receipt", body);
        EXPECT_EQ(reply.result_int(), 500) << body;
        EXPECT_TRUE(reply.body().empty());
    }
    EXPECT_TRUE(log.contains(LogLevel::Error, "An uncaught exception occurred: value is not string"));
    EXPECT_TRUE(log.contains(LogLevel::Error, "An uncaught exception occurred: value is not a container"));
}

TEST_F(RecognitionRoutes, ImagesOfHugeOrUndeclaredSizeAreNotDecoded)
{
    for (const std::string& image : {hugeDeclaredPng(), jpegWithTemBeforeHugeFrame(), tiffWithLong8Width(60000, 50000),
                                     "\xff\xd8" + jpegScan(3)}) {
        EXPECT_EQ(postJson("/recognize_receipt", image), (json::object{{"status", -2}})) << image.size();
        EXPECT_EQ(postJson("/recognize_receipt", imageJson(macaron::Base64::Encode(image))),
                  (json::object{{"status", -2}}));
    }
}

TEST_F(RecognitionRoutes, OnlyPhotoFormatsReachTheDecoder)
{
    // A DICOM preamble and magic with a truncated element: the DICOM reader behind the
    // decoder aborts the process on it. It is answered like any bytes that
    // decode to no image, and the server goes on.
    const std::string dicom = std::string(128, '\x01') + "DICM+}";
    for (const auto& body : {dicom, imageJson(macaron::Base64::Encode(dicom))})
        EXPECT_EQ(postJson("/recognize_receipt", body).at("status"), 0);

    const std::string tiff = encodedImage(".tiff");
    EXPECT_EQ(postJson("/recognize_receipt", tiff).at("image").as_string(), macaron::Base64::Encode(tiff));
}

TEST(RecognitionHandler, KindsWithoutFieldsAnswerMinusThree)
{
    tarvek::http::Request request;
    request.body() = encodedImage(".png");
    EXPECT_EQ(tarvek::service::run_request(request, 2), (json::value(json::object{{"status", -3}})));
}

TEST(ToString, EncodesCodePointsAsUtf8AndSkipsInvalidOnes)
{
    EXPECT_EQ(tarvek::service::to_string(L"의정부"), "의정부");
    EXPECT_EQ(tarvek::service::to_string(std::wstring{L'a', wchar_t(0xD800), L'b', wchar_t(0x110000)}), "ab");
    EXPECT_EQ(tarvek::service::to_string(L""), "");
}
