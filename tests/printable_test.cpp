// Text from outside made safe for JSON and for one line of a terminal or log.

#include "printable.h"

#include <gtest/gtest.h>

namespace {

TEST(Printable, ReplacesWhatIsNotUtf8AndEscapesControls)
{
    struct Case {
        std::string text, utf8, terminal;
    };
    for (const Case& c : std::vector<Case>{
             {"plain ascii", "plain ascii", "plain ascii"},
             {"영수증.jpg", "영수증.jpg", "영수증.jpg"},
             {"a\xff" "b", "a\xEF\xBF\xBD" "b", "a\\xffb"},
             {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", "\\xc0\\xaf"},                 // overlong '/'
             {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\\xed\\xa0\\x80"}, // a surrogate
             {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\\xf4\\x90\\x80\\x80"}, // past U+10FFFF
             {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD", "\\xe2\\x82"},                     // cut short
             {"line\nnext\ttab\\ \x1b[2J\x7f", "line\nnext\ttab\\ \x1b[2J\x7f", "line\\nnext\\ttab\\\\ \\x1b[2J\\x7f"},
             {"\xC2\x9B" "c1", "\xC2\x9B" "c1", "\\xc2\\x9bc1"},
         }) {
        EXPECT_EQ(tarvek::validUtf8(c.text), c.utf8) << c.terminal;
        EXPECT_EQ(tarvek::escapedForTerminal(c.text), c.terminal);
    }
}

} // namespace
