// Language sets as users name them: installed models joined by '+' or spaces, each once.

#include "reading/reading.h"
#include "reading_options.h"

#include <gtest/gtest.h>

namespace {

TEST(LanguagesProblem, AcceptsEachInstalledLanguageOnceInAnyOrder)
{
    // A URL's query decodes '+' as a space: "lang=deu+eng" arrives as "deu eng".
    const std::pair<const char*, const char*> sets[] = {
        {"eng", "eng"},         {"kor", "kor"},         {"deu", "deu"},
        {"kor+eng", "kor+eng"}, {"eng+kor", "eng+kor"}, {"deu+eng+kor", "deu+eng+kor"},
        {"kor+deu", "kor+deu"}, {"deu eng", "deu+eng"}, {"kor eng+deu", "kor+eng+deu"}};
    for (const auto& [languages, normalised] : sets) {
        EXPECT_EQ(tarvek::reading::languagesProblem(languages), "") << languages;
        EXPECT_EQ(tarvek::reading::normalisedLanguages(languages), normalised);
    }
}

TEST(LanguagesProblem, RefusesUnknownIncompleteAndRepeatedSets)
{
    struct Case {
        const char* languages;
        const char* mentions;
    };
    for (const auto& [languages, mentions] : std::vector<Case>{{"xyz", "installed: deu, eng, kor"},
                                                               {"", "installed"},
                                                               {"eng+", "installed"},
                                                               {"+eng", "installed"},
                                                               {"eng++kor", "installed"},
                                                               {"eng kor ", "installed"},
                                                               {" eng", "installed"},
                                                               {"eng  kor", "installed"},
                                                               {"eng+ kor", "installed"},
                                                               {"eng\tkor", "installed"},
                                                               {"eng eng", "more than once"},
                                                               {"osd", "installed"},
                                                               {"eng+eng", "more than once"},
                                                               {"kor+eng+kor", "more than once"},
                                                               {"deu+eng+deu+eng", "more than once"},
                                                               {"ENG", "installed"},
                                                               {"eng\xff", "\"eng\xef\xbf\xbd\""}}) {
        const std::string problem = tarvek::reading::languagesProblem(languages);
        EXPECT_NE(problem.find(mentions), std::string::npos) << languages << ": " << problem;
    }
}

} // namespace
