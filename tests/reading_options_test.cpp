// Language sets as users name them: installed models joined by '+', each once.

#include "reading_options.h"

#include <gtest/gtest.h>

namespace {

TEST(LanguagesProblem, AcceptsEachInstalledLanguageOnceInAnyOrder)
{
    for (const char* languages : {"eng", "kor", "deu", "kor+eng", "eng+kor", "deu+eng+kor", "kor+deu"})
        EXPECT_EQ(tarvek::reading::languagesProblem(languages), "") << languages;
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
