// reading-quality [--jobs N] [--binarization NAME] [--letter-height PX] [--limit N] [--no-baseline]
//                 [--deadline-ms MS]
//                 [--scans FOLDER] [--labelled FOLDER] [--synthetic FOLDER]
// Field accuracy of receiptFields(readText(...)) per field, and the character error rate of the
// read lines, beside a plain baseline measured in the same run: the tesseract command on an
// Otsu-binarized image with a few regular expressions.
//
// --scans: receipt scans named MERCHANT_DDMMYYYY[_ITEMS]_CENTS.jpg (any depth); the merchant must
// appear in the business name, the date and total must equal.
// --labelled: English receipts with labels.jsonl (image, company, date, total); a name counts when
// the company, case and spacing aside, is contained in the name returned (at most twice its
// length) or is at least 0.8 similar to it by edit distance.
// --synthetic: a folder written by synthetic-receipts (labels.jsonl); names compare without spaces.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include <unistd.h>

#include <boost/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "reading/keyword_corrector.h"
#include "reading/reading.h"
#include "reading/reading_internal.h"
#include "reading/wide_text.h"
#include "weighted_edit_distance.h"

namespace fs = std::filesystem;
using namespace tarvek::reading;

namespace {

// The three kinds of set, each scored and reported on its own.
enum class Set { Scans, Labelled, Synthetic };

struct Label {
    fs::path image;
    std::string languages;
    Set set = Set::Scans;
    std::string name, telephone, date, total, currency;
    std::vector<std::string> lines;
};

struct Answer {
    std::string name, telephone, date, total, currency, notRead;
    std::vector<std::string> lines;
    double seconds = 0;
};

std::string compact(const std::string& text)
{
    return narrowed(KeywordCorrector::Compact(widened(text)));
}

double distance(const std::string& a, const std::string& b)
{
    static const tarvek::WeightedEditDistance plain;
    return plain.GetDictance(KeywordCorrector::Compact(widened(a)), KeywordCorrector::Compact(widened(b)), false,
                             tarvek::CM_CHARACTER_PRIMARY);
}

// Whether the merchant appears in the name.
bool namesMerchant(const std::string& name, const std::string& merchant)
{
    const std::string m = compact(merchant);
    return !m.empty() && compact(name).find(m) != std::string::npos;
}

// Whether the name returned is the company: it contains the company and is at most twice as long,
// or they are at least 0.8 similar.
bool namesCompany(const std::string& name, const std::string& company)
{
    const std::wstring n = KeywordCorrector::Compact(widened(name)), c = KeywordCorrector::Compact(widened(company));
    if (c.empty() || n.empty())
        return false;
    if (n.find(c) != std::wstring::npos && n.size() <= 2 * c.size())
        return true;
    return 1 - distance(name, company) / static_cast<double>(std::max(n.size(), c.size())) >= 0.8;
}

std::vector<Label> scanLabels(const fs::path& folder)
{
    static const std::regex scheme(R"(([a-z]+)_(\d{2})(\d{2})(\d{4})(?:_\d+)?_(\d+))");
    std::vector<Label> labels;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::smatch m;
        const std::string stem = entry.path().stem().string();
        if (entry.path().extension() != ".jpg" || !std::regex_match(stem, m, scheme))
            continue;
        Label label;
        label.image = entry.path();
        label.languages = "deu+eng";
        label.name = m[1];
        label.date = m[4].str() + "-" + m[3].str() + "-" + m[2].str();
        const long cents = std::stol(m[5]);
        label.total = std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100);
        labels.push_back(label);
    }
    std::sort(labels.begin(), labels.end(), [](const Label& a, const Label& b) { return a.image < b.image; });
    return labels;
}

// The first `limit` labels of a folder's labels.jsonl, one object a line.
std::vector<Label> jsonLabels(const fs::path& folder, size_t limit, Label (*labelOf)(const fs::path&, const boost::json::object&))
{
    std::vector<Label> labels;
    std::ifstream in(folder / "labels.jsonl");
    for (std::string text; std::getline(in, text) && labels.size() < limit;)
        labels.push_back(labelOf(folder, boost::json::parse(text).as_object()));
    return labels;
}

std::string textAt(const boost::json::object& o, const char* key)
{
    return std::string(o.at(key).as_string());
}

Label companyLabel(const fs::path& folder, const boost::json::object& o)
{
    return Label{folder / textAt(o, "image"), "eng", Set::Labelled, textAt(o, "company"), "", textAt(o, "date"),
                 textAt(o, "total"), "", {}};
}

Label syntheticLabel(const fs::path& folder, const boost::json::object& o)
{
    Label label{folder / textAt(o, "file"), "kor+eng", Set::Synthetic, textAt(o, "business_name"),
                textAt(o, "telephone"), textAt(o, "date"), textAt(o, "total"), textAt(o, "currency"), {}};
    for (const auto& line : o.at("lines").as_array())
        label.lines.emplace_back(line.as_string());
    return label;
}

// A machine shared with other work can take longer than the default deadline: the figures are
// of reading, not of cutting short.
int deadlineMs = 120000;

Answer pipeline(const Label& label, const Preparation& how)
{
    const cv::Mat image = cv::imread(label.image.string(), cv::IMREAD_COLOR);
    ReadOptions options;
    options.languages = label.languages;
    options.deadlineMs = deadlineMs;
    const auto start = std::chrono::steady_clock::now();
    const ReadResult result = readText(image, options, how);
    const ReceiptFields fields = receiptFields(result.lines);
    Answer answer;
    answer.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    answer.name = fields.businessName ? fields.businessName->value : "";
    answer.telephone = fields.telephone ? fields.telephone->value : "";
    answer.date = fields.date ? fields.date->value : "";
    answer.total = fields.total ? fields.total->value : "";
    answer.notRead = result.notRead;
    answer.currency = fields.total ? fields.total->currency : "";
    for (const Line& line : result.lines)
        answer.lines.push_back(line.text);
    return answer;
}

// ---------------------------------------------------------------------------
// The baseline: tesseract's command on an Otsu-binarized image, a few regular expressions
// ---------------------------------------------------------------------------

std::vector<std::string> commandLines(const Label& label, const fs::path& scratch)
{
    cv::Mat grey = cv::imread(label.image.string(), cv::IMREAD_GRAYSCALE), binary;
    cv::threshold(grey, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    const fs::path png = scratch / (label.image.stem().string() + ".png");
    cv::imwrite(png.string(), binary);
    const std::string command = "tesseract '" + png.string() + "' stdout -l " + label.languages + " 2>/dev/null";
    std::vector<std::string> lines;
    if (FILE* out = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, out)) {
            std::string line(buffer);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            if (line.find_first_not_of(' ') != std::string::npos)
                lines.push_back(line);
        }
        pclose(out);
    }
    fs::remove(png);
    return lines;
}

std::string decimal(std::string number)
{
    // The last separator followed by two digits is the decimal point; the others group thousands.
    const size_t point = number.find_last_of(".,");
    std::string fraction;
    if (point != std::string::npos && number.size() - point - 1 == 2) {
        fraction = number.substr(point + 1);
        number.erase(point);
    }
    number.erase(std::remove_if(number.begin(), number.end(), [](char c) { return !std::isdigit(c); }), number.end());
    return number + (fraction.empty() ? "" : "." + fraction);
}

Answer baseline(const Label& label, const fs::path& scratch)
{
    static const std::regex total(R"((합\s*계|총\s*액|결제금액|받을금액|TOTAL|Total|SUMME|Summe|GESAMT|ZU ZAHLEN|zu zahlen|AMOUNT)\D*([\d.,]+\d))");
    static const std::regex phone(R"((\+?\d{2,5}[-/ ]\d{3,4}[- ]?\d{0,4}))");
    static const std::regex dateDay(R"((?:^|\D)(\d{2})[./-](\d{2})[./-](\d{4}))"), dateYear(R"((\d{4})[-.](\d{2})[-.](\d{2}))");
    static const std::regex dateShort(R"((\d{2})/(\d{2})/(\d{2}))");
    const auto start = std::chrono::steady_clock::now();
    Answer answer;
    answer.lines = commandLines(label, scratch);
    answer.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const std::string& line : answer.lines) {
        std::smatch m;
        if (answer.name.empty() && std::count_if(line.begin(), line.end(), [](char c) { return std::isalpha(c) || c < 0; }) >= 3)
            answer.name = line;
        if (answer.total.empty() && std::regex_search(line, m, total))
            answer.total = decimal(m[2]);
        if (answer.telephone.empty() && std::regex_search(line, m, phone))
            answer.telephone = m[1];
        if (answer.date.empty()) {
            if (std::regex_search(line, m, dateYear))
                answer.date = m[1].str() + "-" + m[2].str() + "-" + m[3].str();
            else if (std::regex_search(line, m, dateDay))
                answer.date = m[3].str() + "-" + m[2].str() + "-" + m[1].str();
            else if (std::regex_search(line, m, dateShort))
                answer.date = "20" + m[1].str() + "-" + m[2].str() + "-" + m[3].str();
        }
    }
    return answer;
}

// ---------------------------------------------------------------------------
// Scores
// ---------------------------------------------------------------------------

struct Tally {
    int name = 0, telephone = 0, date = 0, total = 0, currency = 0, count = 0, phones = 0, notRead = 0;
    double errors = 0, characters = 0, seconds = 0;

    void add(const Label& label, const Answer& answer)
    {
        ++count;
        seconds += answer.seconds;
        notRead += !answer.notRead.empty();
        name += label.set == Set::Synthetic ? compact(answer.name) == compact(label.name)
                : label.set == Set::Labelled ? namesCompany(answer.name, label.name)
                                             : namesMerchant(answer.name, label.name);
        date += answer.date == label.date;
        total += answer.total == label.total;
        if (label.set != Set::Synthetic)
            return;
        ++phones;
        telephone += answer.telephone == label.telephone;
        currency += answer.total == label.total && answer.currency == label.currency;
        std::string printed, read;
        for (const std::string& line : label.lines)
            printed += line;
        for (const std::string& line : answer.lines)
            read += line;
        errors += distance(printed, read);
        characters += KeywordCorrector::Compact(widened(printed)).size();
    }
};

std::string share(int right, int of)
{
    std::ostringstream text;
    text << right << "/" << of << " (" << (of ? 100 * right / of : 0) << " %)";
    return text.str();
}

void report(const std::string& title, const Tally& t)
{
    std::cout << title << ": name " << share(t.name, t.count) << ", date " << share(t.date, t.count) << ", total "
              << share(t.total, t.count);
    if (t.phones)
        std::cout << ", telephone " << share(t.telephone, t.phones) << ", total with currency "
                  << share(t.currency, t.phones) << ", CER " << (t.characters ? 100 * t.errors / t.characters : 0)
                  << " %";
    std::cout << ", not read " << t.notRead << ", " << (t.count ? t.seconds / t.count : 0) << " s per receipt\n";
}

Binarization binarizationNamed(const std::string& name)
{
    static const std::map<std::string, Binarization> names = {
        {"grey", Binarization::Grey}, {"otsu", Binarization::Otsu}, {"adaptive-otsu", Binarization::AdaptiveOtsu},
        {"sauvola", Binarization::Sauvola}, {"multiscale-sauvola", Binarization::MultiscaleSauvola}};
    return names.at(name);
}

} // namespace

int main(int argc, char** argv)
{
    // Each job's engine on one thread, as in the programs: OpenMP reads the limit before main.
    if (tarvek::reading::limitEngineThreads())
        execv("/proc/self/exe", argv);
    Preparation how;
    int jobs = 1;
    size_t limit = 200;
    bool withBaseline = true;
    fs::path scans, labelled, synthetic;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--jobs")
            jobs = std::stoi(value());
        else if (arg == "--binarization")
            how.binarization = binarizationNamed(value());
        else if (arg == "--letter-height")
            how.letterHeight = std::stoi(value());
        else if (arg == "--limit")
            limit = std::stoul(value());
        else if (arg == "--deadline-ms")
            deadlineMs = std::stoi(value());
        else if (arg == "--no-baseline")
            withBaseline = false;
        else if (arg == "--scans")
            scans = value();
        else if (arg == "--labelled")
            labelled = value();
        else if (arg == "--synthetic")
            synthetic = value();
    }
    std::vector<Label> labels;
    if (!scans.empty())
        labels = scanLabels(scans);
    if (!labelled.empty())
        for (Label& label : jsonLabels(labelled, limit, companyLabel))
            labels.push_back(label);
    if (!synthetic.empty())
        for (Label& label : jsonLabels(synthetic, limit, syntheticLabel))
            labels.push_back(label);
    const fs::path scratch = fs::temp_directory_path() / ("reading-quality-" + std::to_string(::getpid()));
    fs::create_directories(scratch);

    std::vector<Answer> ours(labels.size()), theirs(labels.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i; (i = next++) < labels.size();) {
            ours[i] = pipeline(labels[i], how);
            if (withBaseline)
                theirs[i] = baseline(labels[i], scratch);
        }
    };
    std::vector<std::thread> threads;
    for (int j = 0; j < jobs; ++j)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
    fs::remove_all(scratch);

    std::map<Set, std::pair<Tally, Tally>> tallies; // the pipeline's and the baseline's
    for (size_t i = 0; i < labels.size(); ++i) {
        const Label& label = labels[i];
        tallies[label.set].first.add(label, ours[i]);
        if (withBaseline)
            tallies[label.set].second.add(label, theirs[i]);
        if (std::getenv("READING_QUALITY_VERBOSE"))
            std::cerr << label.image.filename().string() << " | " << ours[i].name << " | " << ours[i].telephone << " | "
                      << ours[i].date << " | " << ours[i].total << " " << ours[i].currency << " | expected "
                      << label.name << " | " << label.date << " | " << label.total << "\n";
    }
    static const std::map<Set, std::string> titles = {
        {Set::Scans, "scans"}, {Set::Labelled, "labelled"}, {Set::Synthetic, "synthetic"}};
    for (const auto& [set, tally] : tallies) {
        report(titles.at(set) + ", pipeline", tally.first);
        if (withBaseline)
            report(titles.at(set) + ", baseline", tally.second);
    }
    return 0;
}
