#include "reading/engine.h"

#include "reading/wide_text.h"

#include <algorithm>
#include <list>
#include <memory>
#include <utility>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>

namespace tarvek::reading::engine {

namespace {

using Api = std::unique_ptr<tesseract::TessBaseAPI>;

// The resolution Tesseract is told: pages reach it scaled to the letter height
// of a 300 dpi print, and telling it spares it a guess (and the message about it).
constexpr int PAGE_DPI = 300;

// Orientation detection answers below this confidence are taken as "cannot tell".
constexpr float MIN_ORIENTATION_CONFIDENCE = 1.5f;
// Orientation is detected on at most this square of the page's middle.
constexpr int ORIENTATION_SIDE = 2000;

const char* const QUIET_NAMES[] = {"debug_file"};
const char* const QUIET_VALUES[] = {"/dev/null"};

// An engine with Tesseract's own messages sent nowhere; null when the models do not load.
Api started(const std::string& languages, tesseract::OcrEngineMode mode)
{
    // Leptonica reports odd boxes of noisy pages on stderr; the library never logs.
    static const int quietLeptonica = (setMsgSeverity(L_SEVERITY_NONE), 0);
    (void)quietLeptonica;
    Api api = std::make_unique<tesseract::TessBaseAPI>();
    std::vector<std::string> names(std::begin(QUIET_NAMES), std::end(QUIET_NAMES));
    std::vector<std::string> values(std::begin(QUIET_VALUES), std::end(QUIET_VALUES));
    if (api->Init(nullptr, languages.c_str(), mode, nullptr, 0, &names, &values, false) != 0)
        return nullptr;
    return api;
}

// Starting an engine costs hundreds of milliseconds (more for Korean), so each thread keeps the
// engines it used last, the most recent first. An engine holds tens of megabytes (one read in each
// of 15 orderings of three languages took a server from 166 MB to 970 MB when every engine was
// kept), so the least recently used one makes way for a new one. Two orderings of the same
// languages are two engines: the first language is Tesseract's primary one, and deu+eng and
// eng+deu read a line differently on 4 of 12 German receipt scans.
using Engines = std::list<std::pair<std::string, Api>>;

Engines& threadEngines()
{
    thread_local Engines engines;
    return engines;
}

tesseract::TessBaseAPI* readingEngine(const std::string& languages)
{
    Engines& engines = threadEngines();
    const auto found =
        std::find_if(engines.begin(), engines.end(), [&](const auto& held) { return held.first == languages; });
    if (found != engines.end()) {
        engines.splice(engines.begin(), engines, found);
    } else {
        // The old engine goes before the new one starts, so that no more than the bound are ever held.
        if (engines.size() >= MAX_ENGINES_PER_THREAD)
            engines.pop_back();
        engines.emplace_front(languages, started(languages, tesseract::OEM_LSTM_ONLY));
    }
    return engines.front().second.get();
}

// Orientation detection runs before every reading whatever its languages, so its engine stays.
tesseract::TessBaseAPI* orientationEngine()
{
    thread_local const Api osd = started("osd", tesseract::OEM_DEFAULT);
    return osd.get();
}

// Tesseract's monitor asks between words whether to stop.
bool cancelled(void* deadline, int /*words*/)
{
    return static_cast<const Deadline*>(deadline)->cancelled();
}

void setPage(tesseract::TessBaseAPI& api, const cv::Mat& page)
{
    api.SetImage(page.data, page.cols, page.rows, 1, static_cast<int>(page.step));
    api.SetSourceResolution(PAGE_DPI);
}

cv::Rect boxAt(const tesseract::ResultIterator& it, tesseract::PageIteratorLevel level)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    it.BoundingBox(level, &left, &top, &right, &bottom);
    return {left, top, right - left, bottom - top};
}

std::string textAt(const tesseract::ResultIterator& it, tesseract::PageIteratorLevel level)
{
    const std::unique_ptr<char[]> text(it.GetUTF8Text(level));
    return text ? std::string(text.get()) : std::string();
}

// The words of the line the iterator stands on; leaves it on the line's last word.
std::vector<Word> wordsOfLine(tesseract::ResultIterator& it)
{
    std::vector<Word> words;
    do {
        Word word{textAt(it, tesseract::RIL_WORD), boxAt(it, tesseract::RIL_WORD),
                  it.Confidence(tesseract::RIL_WORD) / 100.0f};
        // Pictures and rules come back as words of spaces.
        if (word.text.find_first_not_of(" \t\n") != std::string::npos)
            words.push_back(std::move(word));
    } while (!it.IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD) && it.Next(tesseract::RIL_WORD));
    return words;
}

bool isHangul(wchar_t c)
{
    return c >= 0xAC00 && c <= 0xD7A3;
}

// Whether a space belongs between two words. Tesseract's Korean model often splits a word into
// its syllables ("은 하 약국"): a lone syllable joins its Hangul neighbour. Brackets hold on to
// what they enclose ("( 주 )" is "(주)").
bool spaceBetween(const std::wstring& left, const std::wstring& right)
{
    const bool hangul = isHangul(left.back()) && isHangul(right.front());
    if (hangul && (left.size() == 1 || right.size() == 1))
        return false;
    return left != L"(" && right != L")";
}

std::string joined(const std::vector<Word>& words)
{
    std::string text;
    std::wstring previous;
    for (const Word& word : words) {
        const std::wstring current = widened(word.text);
        if (!previous.empty() && !current.empty() && spaceBetween(previous, current))
            text += ' ';
        text += word.text;
        previous = current;
    }
    return text;
}

std::vector<Line> linesOf(tesseract::TessBaseAPI& api)
{
    std::vector<Line> lines;
    const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return lines;
    it->Begin();
    do {
        if (it->Empty(tesseract::RIL_WORD))
            continue;
        Line line{"", boxAt(*it, tesseract::RIL_TEXTLINE), it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f, {}};
        line.words = wordsOfLine(*it);
        line.text = joined(line.words);
        if (!line.words.empty())
            lines.push_back(std::move(line));
    } while (it->Next(tesseract::RIL_TEXTLINE));
    return lines;
}

} // namespace

std::vector<std::string> installedModels()
{
    static const std::vector<std::string> models = [] {
        std::vector<std::string> found;
        if (Api api = started("osd", tesseract::OEM_DEFAULT))
            api->GetAvailableLanguagesAsVector(&found);
        found.erase(std::remove(found.begin(), found.end(), "osd"), found.end());
        std::sort(found.begin(), found.end());
        return found;
    }();
    return models;
}

Reading recognise(const cv::Mat& page, const std::string& languages, const Deadline& deadline)
{
    Reading reading;
    tesseract::TessBaseAPI* api = readingEngine(languages);
    if (!api || page.empty())
        return reading;
    setPage(*api, page);
    api->SetPageSegMode(tesseract::PSM_SINGLE_COLUMN);
    tesseract::ETEXT_DESC monitor;
    monitor.set_deadline_msecs(std::max(1, deadline.remainingMs()));
    monitor.cancel = cancelled;
    monitor.cancel_this = const_cast<Deadline*>(&deadline);
    api->Recognize(&monitor);
    reading.cutShort = monitor.deadline_exceeded() || deadline.cancelled();
    reading.lines = linesOf(*api);
    api->Clear();
    return reading;
}

std::vector<std::string> heldEngines()
{
    std::vector<std::string> languages;
    for (const auto& held : threadEngines())
        languages.push_back(held.first);
    return languages;
}

int orientation(const cv::Mat& page)
{
    tesseract::TessBaseAPI* api = orientationEngine();
    if (!api || page.empty())
        return 0;
    // The middle of a large page has text enough to tell, at a fraction of the time.
    const cv::Size middle(std::min(page.cols, ORIENTATION_SIDE), std::min(page.rows, ORIENTATION_SIDE));
    const cv::Mat region = page(cv::Rect((page.cols - middle.width) / 2, (page.rows - middle.height) / 2, middle.width,
                                         middle.height));
    setPage(*api, region);
    api->SetPageSegMode(tesseract::PSM_OSD_ONLY);
    int degrees = 0;
    float confidence = 0;
    const char* script = nullptr;
    float scriptConfidence = 0;
    const bool detected = api->DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence);
    api->Clear();
    if (!detected || confidence < MIN_ORIENTATION_CONFIDENCE)
        return 0;
    // Tesseract reports how far the text is turned counter-clockwise.
    return (360 - degrees) % 360;
}

} // namespace tarvek::reading::engine
